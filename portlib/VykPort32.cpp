// vykport32.dll: byte access to the Super I/O ports 0x4E/0x4F for the
// program. On the NT family the work goes to the vykport kernel driver,
// which the library installs, starts and opens by itself while it loads;
// on 95/98/Me it executes the port instructions itself. The word,
// doubleword and physical-memory exports are kept for callers that bind
// them, but refuse: the driver serves none of them. Messages go to the
// debugger output only.
#include <windows.h>

#include <cstdio>
#include <cstring>

#define VYK_PORT_API extern "C"
#include "portlib/VykPort32.h"
#include "portlib/VykPortRequests.h"

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

void PutPort16(uint8_t* b, uint16_t port)
{
    b[0] = static_cast<uint8_t>(port);
    b[1] = static_cast<uint8_t>(port >> 8);
}

// Exports the driver no longer serves: they say so and return their failure
// value without sending a request.
void Refuse(const char* name)
{
    char message[160];
    std::snprintf(message, sizeof message,
                  "%s refused: this library reaches only single bytes of the ports 0x4E/0x4F\n", name);
    Emit(message);
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
        // A driver file written short would be loaded as a broken image at
        // this and every later system start: none is left behind.
        if (!CloseHandle(file) || !wrote || written != size) {
            DeleteFileA(DriverPath);
            char reason[32] = "";
            if (error)
                std::snprintf(reason, sizeof reason, ", error %lu", static_cast<unsigned long>(error));
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

void OpenDriver()
{
    const char* name = Wow64 ? VYK_DRIVER_NAME_64 : VYK_DRIVER_NAME_32;
    const int resourceId = Wow64 ? VYK_RESOURCE_DRIVER_64 : VYK_RESOURCE_DRIVER_32;
    Emit("Attempting to open port driver...\n");

    char devicePath[MAX_PATH];
    std::snprintf(devicePath, sizeof devicePath, "\\\\.\\%s", name);
    Device = OpenDevice(devicePath);
    if (DeviceOpen()) {
        ReportOpened(name);
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
    if (DeviceOpen())
        ReportOpened(name);
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
    if (Mode == AccessDirect) {
        DirectOut(port, static_cast<uint8_t>(value));
    } else if (Mode == AccessDriver) {
        uint8_t b[VYK_WRITE_BYTE_MIN_IN];
        PutPort16(b, port);
        b[2] = static_cast<uint8_t>(value);
        Request(VYK_IOCTL_WRITE_BYTE, b, VYK_WRITE_BYTE_MIN_IN, VYK_WRITE_BYTE_MIN_OUT);
    }
}

uint16_t VYK_PORT_CALL InPortByte(uint16_t port)
{
    if (Mode == AccessDirect)
        return DirectIn(port);
    if (Mode != AccessDriver)
        return 0;
    static_assert(VYK_READ_BYTE_MIN_OUT <= VYK_READ_BYTE_MIN_IN, "the buffer takes the input and the output");
    uint8_t b[VYK_READ_BYTE_MIN_IN];
    PutPort16(b, port);
    if (!Request(VYK_IOCTL_READ_BYTE, b, VYK_READ_BYTE_MIN_IN, VYK_READ_BYTE_MIN_OUT)) {
        char message[32];
        std::snprintf(message, sizeof message, "Error %d\n", static_cast<int>(GetLastError()));
        Emit(message);
        // The buffer still holds the port number: never pass that off as data.
        return 0;
    }
    return b[0];
}

uint8_t VYK_PORT_CALL ReadPortUchar(uint16_t port)
{
    if (Mode == AccessDirect)
        return DirectIn(port);
    if (Mode != AccessDriver)
        return 0;
    static_assert(VYK_READ_UCHAR_OUT <= VYK_READ_UCHAR_IN, "the buffer takes the input and the output");
    uint8_t b[VYK_READ_UCHAR_IN] = {};
    PutPort16(b, port);
    return Request(VYK_IOCTL_READ_BYTE, b, VYK_READ_UCHAR_IN, VYK_READ_UCHAR_OUT) ? b[0] : 0;
}

void VYK_PORT_CALL WritePortUchar(uint16_t port, uint8_t value) { OutPortByte(port, value); }

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
