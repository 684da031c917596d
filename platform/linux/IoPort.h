#pragma once
#include <memory>
#include <string>

#include "hw/IoPort.h"

namespace vyk::platform {

// Real ports on Linux through the kernel's per-process I/O permission
// bitmap. Only the Super I/O pair 0x4E/0x4F is ever opened; any other
// port is refused before an instruction runs.
class LinuxIoPort final : public IoPort {
public:
    static constexpr uint16_t FirstPort = 0x4E;
    static constexpr int PortCount = 2;

    // Asks the kernel for the two ports. Throws NoPortAccess, with a clear
    // message, when it refuses (not root, a lockdown kernel, not an x86 machine).
    static std::unique_ptr<LinuxIoPort> Open();
    ~LinuxIoPort() override;

    void OutPortByte(uint16_t port, uint16_t data) override;
    uint16_t InPortByte(uint16_t port) override;

    // Whether this build can reach ports at all.
    static bool Supported();

private:
    LinuxIoPort() = default;
};

} // namespace vyk::platform
