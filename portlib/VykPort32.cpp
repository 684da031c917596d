// vykport32.dll: the program's byte access to the Super I/O ports
// 0x4E/0x4F, narrowed to what the program does with them: single bytes of
// the PD mailbox in EC RAM. The byte exports follow the caller's EC-access
// sequence and send each EC RAM access as one request to the vykport kernel
// driver, which the library installs, starts and opens by itself while it
// loads; on 95/98/Me the library executes the port instructions itself.
// Traffic off that path is refused, as are the word, doubleword and
// physical-memory exports, kept for callers that bind them. Messages go to
// the debugger output only.
#include <windows.h>

#include <cstdio>
#include <cstring>

#define VYK_PORT_API extern "C"
#include "portlib/EcAccessRecogniser.h"
#include "portlib/VykPort32.h"
#include "portlib/VykPortRequests.h"
#include "portlib/driver/RequestDecoder.h"

namespace {

enum AccessMode : int32_t { AccessNone = 0, AccessDirect = 1, AccessDriver = 2 };

// Entry points that older systems lack: looked up once, null where absent.
struct OptionalSystemEntryPoints {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    using DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);
    using RevertRedirectionFn = BOOL(WINAPI*)(PVOID);

    IsWow64ProcessFn isWow64Process = nullptr;
    DisableRedirectionFn disableRedirection = nullptr;
    RevertRedirectionFn revertRedirection = nullptr;

    OptionalSystemEntryPoints()
    {
        HMODULE kernel = GetModuleHandleA("kernel32");
        if (!kernel)
            return;
        isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
        disableRedirection = reinterpret_cast<DisableRedirectionFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
        revertRedirection = reinterpret_cast<RevertRedirectionFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
    }
};

// A static object: constructed by the runtime before DllMain sees the attach.
const OptionalSystemEntryPoints System;

int32_t Mode = AccessNone;
HANDLE Device = nullptr; // 0 before the load, INVALID_HANDLE_VALUE after a failed open
HMODULE Module = nullptr;
bool Wow64 = false;
char DriverPath[MAX_PATH];

void Emit(const char* text) { OutputDebugStringA(text); }

bool DeviceOpen() { return Device != nullptr && Device != INVALID_HANDLE_VALUE; }

// The family comes from the kernel that really runs. A program started in
// a 95/98 compatibility mode is told by GetVersionEx that it runs on the 95
// family; executing port instructions in user mode on an NT kernel would
// then crash it at the first EC access. ntdll.dll with its system-call
// entry points is mapped into every process of an NT kernel and into none
// on 95/98/Me.
bool NtKernel()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "NtDeviceIoControlFile");
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
int32_t DetermineAccessMode()
{
    if (NtKernel())
        return AccessDriver;
    DWORD platform = 0;
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
        platform = extended.dwPlatformId;
    } else {
        OSVERSIONINFOA basic{};
        basic.dwOSVersionInfoSize = sizeof basic;
        if (!GetVersionExA(&basic))
            return AccessNone;
        platform = basic.dwPlatformId;
    }
    if (platform == VER_PLATFORM_WIN32_WINDOWS)
        return AccessDirect;
    if (platform == VER_PLATFORM_WIN32_NT)
        return AccessDriver;
    return AccessNone;
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The processor's own port instructions, for the 95/98/Me family.
inline void DirectOut(uint16_t port, uint8_t value) { __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port)); }

inline uint8_t DirectIn(uint16_t port)
{
    uint8_t value;
    __asm__ __volatile__("inb %1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

// The same EC RAM sequence the driver runs, on the processor's own
// instructions. No lock: 95/98/Me run it from the caller's one thread.
const VykKernel DirectPorts = {
    nullptr, [](void*, uint16_t port) { return DirectIn(port); },
    [](void*, uint16_t port, uint8_t value) { DirectOut(port, value); }, nullptr, nullptr};

// Where the caller's EC-access sequence stands.
vyk::portlib::EcAccessRecogniser Path;

// One device-control request; the buffer carries the input and receives
// the output. A closed device fails like the system would, without a call.
bool Request(DWORD code, void* buffer, DWORD inLength, DWORD outLength)
{
    if (!DeviceOpen()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD returned = 0;
    return DeviceIoControl(Device, code, buffer, inLength, buffer, outLength, &returned, nullptr) != FALSE;
}

void PutAddress(uint8_t* b, uint16_t address)
{
    b[0] = static_cast<uint8_t>(address);
    b[1] = static_cast<uint8_t>(address >> 8);
}

// Exports the driver no longer serves: they say so and return their failure
// value without sending a request.
void Refuse(const char* name)
{
    char message[160];
    std::snprintf(message, sizeof message,
                  "%s refused: this library reaches only the PD mailbox in EC RAM, through the ports 0x4E/0x4F\n",
                  name);
    Emit(message);
}

// Port traffic that is not sent: one line naming the call and why.
void RefuseTraffic(const char* call, const vyk::portlib::EcStep& step)
{
    char message[200];
    if (step.why == vyk::portlib::Refusal::AddressNotServed)
        std::snprintf(message, sizeof message, "%s refused: EC RAM address 0x%04X is outside the PD mailbox\n", call,
                      step.address);
    else
        std::snprintf(message, sizeof message,
                      "%s refused: not on the EC RAM access path of the ports 0x4E/0x4F\n", call);
    Emit(message);
}

bool EcReadRequest(uint16_t address, uint8_t& value)
{
    static_assert(VYK_EC_READ_OUT <= VYK_EC_READ_IN, "the buffer takes the input and the output");
    uint8_t b[VYK_EC_READ_IN];
    PutAddress(b, address);
    if (!Request(VYK_IOCTL_EC_READ, b, VYK_EC_READ_IN, VYK_EC_READ_OUT))
        return false;
    value = b[0];
    return true;
}

void EcWriteRequest(uint16_t address, uint8_t value)
{
    uint8_t b[VYK_EC_WRITE_IN];
    PutAddress(b, address);
    b[2] = value;
    Request(VYK_IOCTL_EC_WRITE, b, VYK_EC_WRITE_IN, VYK_EC_WRITE_OUT);
}

// A byte written to a port, by the export named.
void PortWrite(const char* name, uint16_t port, uint8_t value)
{
    if (Mode != AccessDirect && Mode != AccessDriver)
        return;
    const vyk::portlib::EcStep step = Path.Out(port, value);
    switch (step.kind) {
    case vyk::portlib::EcStepKind::Write:
        if (Mode == AccessDirect)
            VykEcRamWrite(&DirectPorts, step.address, step.value);
        else
            EcWriteRequest(step.address, step.value);
        break;
    case vyk::portlib::EcStepKind::Refused: {
        char call[48];
        std::snprintf(call, sizeof call, "%s(0x%04X, 0x%02X)", name, port, value);
        RefuseTraffic(call, step);
        break;
    }
    default:
        break;
    }
}

// A byte read from a port, by the export named; 0 for whatever is not read.
// A failed request is reported only when the export says so.
uint8_t PortRead(const char* name, uint16_t port, bool reportFailure)
{
    if (Mode != AccessDirect && Mode != AccessDriver)
        return 0;
    const vyk::portlib::EcStep step = Path.In(port);
    if (step.kind != vyk::portlib::EcStepKind::Read) {
        char call[40];
        std::snprintf(call, sizeof call, "%s(0x%04X)", name, port);
        RefuseTraffic(call, step);
        return 0;
    }
    if (Mode == AccessDirect)
        return VykEcRamRead(&DirectPorts, step.address);
    uint8_t value = 0;
    if (!EcReadRequest(step.address, value) && reportFailure) {
        char message[32];
        std::snprintf(message, sizeof message, "Error %d\n", static_cast<int>(GetLastError()));
        Emit(message);
    }
    return value;
}

// The Windows error of the last refused service start, 0 when none. 577:
// the driver's signature was refused (not named by every kit's headers).
DWORD StartError = 0;
constexpr DWORD ErrorInvalidImageHash = 577;

// Result codes: 0 started, 1 manager or service cannot be opened, 3 start
// refused with full access, 4 start refused with limited access.
int StartDriverService(const char* name)
{
    StartError = 0;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    DWORD serviceAccess = SERVICE_ALL_ACCESS;
    int refused = 3;
    if (!manager) {
        if (GetLastError() != ERROR_ACCESS_DENIED)
            return 1;
        manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
        if (!manager)
            return 1;
        serviceAccess = GENERIC_EXECUTE;
        refused = 4;
    }
    int result = 1;
    if (SC_HANDLE service = OpenServiceA(manager, name, serviceAccess)) {
        if (StartServiceA(service, 0, nullptr)) {
            result = 0;
        } else {
            StartError = GetLastError();
            result = refused;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}

// The driver file's full path in the system's Drivers folder, into
// DriverPath; false when it does not fit: a truncated path would name some
// other file.
bool SetDriverPath(const char* name)
{
    char systemDir[MAX_PATH];
    const UINT length = GetSystemDirectoryA(systemDir, sizeof systemDir);
    return length > 0 && length < sizeof systemDir &&
           std::snprintf(DriverPath, sizeof DriverPath, "%s\\Drivers\\%s.sys", systemDir, name) <
               static_cast<int>(sizeof DriverPath);
}

// Writes the driver image to DriverPath.
void WriteDriverFile(const void* image, DWORD size)
{
    // A 32-bit process sees SysWOW64 as System32; the 64-bit driver must
    // land in the real one.
    PVOID redirection = nullptr;
    const bool redirectionOff = Wow64 && System.disableRedirection && System.disableRedirection(&redirection);
    HANDLE file = CreateFileA(DriverPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        const bool wrote = WriteFile(file, image, size, &written, nullptr);
        const DWORD error = wrote ? 0 : GetLastError();
        // The close may be where the last bytes reach the disk (a full or
        // removed volume, a redirector); a close that fails leaves the file
        // as uncertain as a short write.
        const bool closed = CloseHandle(file) != FALSE;
        const DWORD closeError = closed ? 0 : GetLastError();
        // A driver file written short would be loaded as a broken image at
        // this and every later system start: none is left behind.
        if (!closed || !wrote || written != size) {
            DeleteFileA(DriverPath);
            char reason[64] = "";
            if (error)
                std::snprintf(reason, sizeof reason, ", error %lu", static_cast<unsigned long>(error));
            else if (!closed)
                std::snprintf(reason, sizeof reason, ", closing failed with error %lu",
                              static_cast<unsigned long>(closeError));
            char message[MAX_PATH + 96];
            std::snprintf(message, sizeof message, "Unable to write %s: %lu of %lu bytes written%s\n", DriverPath,
                          static_cast<unsigned long>(written), static_cast<unsigned long>(size), reason);
            Emit(message);
        }
    }
    if (redirectionOff && System.revertRedirection)
        System.revertRedirection(redirection);
}

// Registers the driver file at DriverPath as an automatically started
// service; fails harmlessly when the service exists already.
void RegisterDriverService(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    // The file's own full path, in the kernel's form. Windows takes a path
    // relative to its folder too, but Wine's driver host finds no file by
    // it, and its service manager can tell a 64-bit driver image from a
    // 32-bit one only by a full path: without, a service registered by this
    // 32-bit library goes to the 32-bit host, which cannot load vykportx64.
    char binaryPath[MAX_PATH + 4];
    std::snprintf(binaryPath, sizeof binaryPath, "\\??\\%s", DriverPath);
    SC_HANDLE service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START,
                                       SERVICE_ERROR_NORMAL, binaryPath, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

// Writes the driver image from the library's resources to the system's
// Drivers folder and registers it as a service.
void InstallDriver(const char* name, int resourceId)
{
    const bool pathUsable = SetDriverPath(name);
    HRSRC resource = FindResourceA(Module, MAKEINTRESOURCEA(resourceId), "bin");
    HGLOBAL loaded = resource ? LoadResource(Module, resource) : nullptr;
    const void* image = loaded ? LockResource(loaded) : nullptr;
    if (!pathUsable)
        return;
    if (image)
        WriteDriverFile(image, SizeofResource(Module, resource));
    RegisterDriverService(name);
}

HANDLE OpenDevice(const char* devicePath)
{
    return CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

void ReportOpened(const char* name)
{
    Emit("Successfully opened ");
    Emit(name);
    Emit(" driver\n");
}

// A driver that an earlier build of this library installed opens under the
// same name and stays registered for automatic start, but answers every EC
// RAM request as an unknown code: writes would vanish and reads give 0,
// which the mailbox takes for "idle", so a flash would seem to pass having
// written nothing. Ours answers an EC RAM read that carries no address with
// invalid parameter and touches no port; any other answer leaves the device
// closed.
bool ServesEcRequests()
{
    uint8_t b[VYK_EC_READ_IN] = {};
    DWORD returned = 0;
    const bool refused = !DeviceIoControl(Device, VYK_IOCTL_EC_READ, b, 0, b, VYK_EC_READ_OUT, &returned, nullptr);
    return refused && GetLastError() == ERROR_INVALID_PARAMETER;
}

// Keeps the device just opened only when it is the driver this library
// needs, and says which it was.
void AcceptDevice(const char* name)
{
    if (!DeviceOpen())
        return;
    if (ServesEcRequests()) {
        ReportOpened(name);
        return;
    }
    CloseHandle(Device);
    Device = INVALID_HANDLE_VALUE;
    char message[MAX_PATH];
    std::snprintf(message, sizeof message,
                  "The running %s driver does not serve EC RAM requests (an older version): stop and delete its "
                  "service (sc stop %s, sc delete %s) so that this library installs its own\n",
                  name, name, name);
    Emit(message);
}

void OpenDriver()
{
    const char* name = Wow64 ? VYK_DRIVER_NAME_64 : VYK_DRIVER_NAME_32;
    const int resourceId = Wow64 ? VYK_RESOURCE_DRIVER_64 : VYK_RESOURCE_DRIVER_32;
    Emit("Attempting to open port driver...\n");

    char devicePath[MAX_PATH];
    std::snprintf(devicePath, sizeof devicePath, "\\\\.\\%s", name);
    Device = OpenDevice(devicePath);
    if (DeviceOpen()) {
        AcceptDevice(name);
        return;
    }
    if (StartDriverService(name) != 0) {
        InstallDriver(name, resourceId);
        const int result = StartDriverService(name);
        if (result != 0) {
            char message[MAX_PATH];
            std::snprintf(message, sizeof message, "Unable to open %s driver. Error code %d.\n", name, result);
            Emit(message);
            if (StartError == ErrorInvalidImageHash) {
                std::snprintf(message, sizeof message,
                              "Windows refused the signature of %s.sys (error 577, ERROR_INVALID_IMAGE_HASH)\n", name);
                Emit(message);
            }
            return;
        }
    }
    Device = OpenDevice(devicePath);
    AcceptDevice(name);
}

void CloseDriver()
{
    if (Mode == AccessDriver && DeviceOpen()) {
        Emit("Closing port driver...\n");
        CloseHandle(Device);
        Device = nullptr;
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Module = instance;
        Wow64 = Is64BitWindows() != 0;
        Mode = DetermineAccessMode();
        if (Mode == AccessDriver)
            OpenDriver();
    } else if (reason == DLL_PROCESS_DETACH) {
        CloseDriver();
    }
    // The load never fails: the caller learns from IsPortDriverOpen.
    return TRUE;
}

int32_t VYK_PORT_CALL Is64BitWindows()
{
    BOOL wow64 = FALSE;
    return System.isWow64Process && System.isWow64Process(GetCurrentProcess(), &wow64) && wow64 ? 1 : 0;
}

int32_t VYK_PORT_CALL IsPortDriverOpen()
{
    Mode = DetermineAccessMode();
    switch (Mode) {
    case AccessDirect:
        return 1;
    case AccessDriver:
        return DeviceOpen() ? 1 : 0;
    default:
        return 0;
    }
}

void VYK_PORT_CALL OutPortByte(uint16_t port, uint16_t value)
{
    PortWrite("OutPortByte", port, static_cast<uint8_t>(value));
}

uint16_t VYK_PORT_CALL InPortByte(uint16_t port) { return PortRead("InPortByte", port, true); }

uint8_t VYK_PORT_CALL ReadPortUchar(uint16_t port) { return PortRead("ReadPortUchar", port, false); }

void VYK_PORT_CALL WritePortUchar(uint16_t port, uint8_t value) { PortWrite("WritePortUchar", port, value); }

uint16_t VYK_PORT_CALL ReadPortUshort(uint16_t)
{
    Refuse("ReadPortUshort");
    return 0;
}

void VYK_PORT_CALL WritePortUshort(uint16_t, uint16_t) { Refuse("WritePortUshort"); }

uint32_t VYK_PORT_CALL ReadPortUlong(uint32_t)
{
    Refuse("ReadPortUlong");
    return 0;
}

void VYK_PORT_CALL WritePortUlong(uint32_t, uint32_t) { Refuse("WritePortUlong"); }

uint8_t* VYK_PORT_CALL MapPhysicalMemory(uint32_t, uint32_t, void**)
{
    Refuse("MapPhysicalMemory");
    return nullptr;
}

int32_t VYK_PORT_CALL UnmapPhysicalMemory(void*, uint8_t*)
{
    Refuse("UnmapPhysicalMemory");
    return 0;
}

int32_t VYK_PORT_CALL ReadPhysicalUlong(uint32_t, uint32_t*)
{
    Refuse("ReadPhysicalUlong");
    return 0;
}

int32_t VYK_PORT_CALL WritePhysicalUlong(uint32_t, uint32_t)
{
    Refuse("WritePhysicalUlong");
    return 0;
}
