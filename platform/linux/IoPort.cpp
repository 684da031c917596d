#include "platform/linux/IoPort.h"

#include "platform/Failure.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#if defined(__linux__) && (defined(__i386__) || defined(__x86_64__)) && __has_include(<sys/io.h>)
#include <sys/io.h>
#define VYK_HAVE_PORT_INSTRUCTIONS 1
#else
#define VYK_HAVE_PORT_INSTRUCTIONS 0
#endif

namespace vyk::platform {

namespace {
void CheckPort(uint16_t port)
{
    if (port < LinuxIoPort::FirstPort || port >= LinuxIoPort::FirstPort + LinuxIoPort::PortCount)
        throw std::logic_error("port outside 0x4E/0x4F requested");
}
} // namespace

bool LinuxIoPort::Supported()
{
    return VYK_HAVE_PORT_INSTRUCTIONS;
}

std::unique_ptr<LinuxIoPort> LinuxIoPort::Open()
{
#if VYK_HAVE_PORT_INSTRUCTIONS
    if (ioperm(FirstPort, PortCount, 1) != 0) {
        const int code = errno;
        std::string error = "no access to I/O ports 0x4E/0x4F: ioperm refused: ";
        error += std::strerror(code);
        if (code == EPERM)
            error += " (run as root, or with CAP_SYS_RAWIO; a locked-down kernel refuses even root)";
        else if (code == ENOSYS)
            error += " (this kernel or sandbox gives no port permissions; a virtual machine or container may hide them)";
        throw NoPortAccess(error);
    }
    return std::unique_ptr<LinuxIoPort>(new LinuxIoPort());
#else
    throw NoPortAccess("no access to I/O ports: this build has no port instructions (x86 Linux only); use --sim DIR");
#endif
}

LinuxIoPort::~LinuxIoPort()
{
#if VYK_HAVE_PORT_INSTRUCTIONS
    ioperm(FirstPort, PortCount, 0);
#endif
}

void LinuxIoPort::OutPortByte(uint16_t port, uint16_t data)
{
    CheckPort(port);
#if VYK_HAVE_PORT_INSTRUCTIONS
    outb(static_cast<unsigned char>(data & 0xFF), port);
#else
    (void)data;
#endif
}

uint16_t LinuxIoPort::InPortByte(uint16_t port)
{
    CheckPort(port);
#if VYK_HAVE_PORT_INSTRUCTIONS
    return inb(port);
#else
    return 0;
#endif
}

} // namespace vyk::platform
