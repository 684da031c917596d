// Loads a port library under Wine the way the program does and checks what
// it does: its exports, what it writes to the debugger output (the load runs
// in a child process under this program's debug loop), its results when no
// driver opens, the driver file and service it installs, that the exports
// the driver no longer serves send it no request, that a 95/98
// compatibility mode does not make it execute port instructions, and, where
// Wine hosts the driver, requests to the driver's device and its access
// rights.
//
//   portlib_wine_test exports <dll>
//   portlib_wine_test fresh-load <dll> <vykport32.sys> <vykportx64.sys>
//   portlib_wine_test hosted <dll>            (32-bit Wine prefix only)
//   portlib_wine_test child <dll>             (run by the others)
//   portlib_wine_test child-unsigned <dll>    (the same, every service start
//                                              refused for the driver's signature)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "portlib/VykPort32.h"
#include "portlib/VykPortRequests.h"

#include "tests/WineCheck.h"

namespace {

using vyk::winetest::Failures;
using vyk::winetest::Check;
using vyk::winetest::WindowsPath;
using vyk::winetest::Escape;

bool Wow64()
{
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

const char* DriverName() { return Wow64() ? VYK_DRIVER_NAME_64 : VYK_DRIVER_NAME_32; }

std::string DriverFilePath(const char* name)
{
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, MAX_PATH);
    return std::string(dir) + "\\Drivers\\" + name + ".sys";
}

std::vector<char> ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads a file from the real system directory, past WOW64's redirection.
std::vector<char> ReadSystemFile(const std::string& path)
{
    PVOID old = nullptr;
    const bool off = Wow64() && Wow64DisableWow64FsRedirection(&old);
    auto bytes = ReadWholeFile(path);
    if (off)
        Wow64RevertWow64FsRedirection(old);
    return bytes;
}

// Back to a machine where nothing was ever installed.
void RemoveDriver(const char* name)
{
    if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        if (SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS)) {
            SERVICE_STATUS status;
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    PVOID old = nullptr;
    const bool off = Wow64() && Wow64DisableWow64FsRedirection(&old);
    DeleteFileA(DriverFilePath(name).c_str());
    if (off)
        Wow64RevertWow64FsRedirection(old);
}

struct ChildRun {
    std::vector<std::string> library; // the library's debugger output
    std::string results;              // the child's own report
    DWORD exitCode = 0xFFFFFFFF;
};

// Runs "<mode> <dll>" under a debug loop and collects OutputDebugStringA.
ChildRun RunChild(const std::string& dll, const char* mode = "child")
{
    ChildRun run;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" " + mode + " \"" + dll + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                        &si, &pi)) {
        Check(false, "start the child under the debugger");
        return run;
    }
    for (bool done = false; !done;) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, 60000)) {
            Check(false, "child reports within 60 s");
            TerminateProcess(pi.hProcess, 99);
            break;
        }
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT: {
            const auto& info = event.u.DebugString;
            std::string text(info.nDebugStringLength, '\0');
            SIZE_T read = 0;
            ReadProcessMemory(pi.hProcess, info.lpDebugStringData, text.data(), text.size(), &read);
            text.resize(read);
            while (!text.empty() && text.back() == '\0')
                text.pop_back();
            if (text.rfind("child: ", 0) == 0)
                run.results = text.substr(7);
            else
                run.library.push_back(text);
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            run.exitCode = event.u.ExitProcess.dwExitCode;
            done = true;
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

void ExpectOutput(const ChildRun& run, const std::vector<std::string>& expected, const std::string& what)
{
    bool same = run.library == expected;
    Check(same, what + ": debugger output as expected");
    if (!same) {
        for (const auto& s : run.library)
            std::printf("       got      \"%s\"\n", Escape(s).c_str());
        for (const auto& s : expected)
            std::printf("       expected \"%s\"\n", Escape(s).c_str());
    }
}

template <typename T>
T Bind(HMODULE h, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(h, name)));
}

// Sends every later call of a system routine to a stand-in: a jump over
// the routine's first bytes. Used in the child only, which never needs the
// real routine again.
void Redirect(const char* module, const char* name, const void* standIn)
{
    auto* target = reinterpret_cast<uint8_t*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(module), name)));
    DWORD old = 0;
    if (!target || !VirtualProtect(target, 5, PAGE_EXECUTE_READWRITE, &old)) {
        OutputDebugStringA("child: cannot redirect a system routine");
        ExitProcess(3);
    }
    const int32_t distance = static_cast<int32_t>(reinterpret_cast<intptr_t>(standIn) -
                                                  reinterpret_cast<intptr_t>(target + 5));
    target[0] = 0xE9;
    std::memcpy(target + 1, &distance, 4);
    VirtualProtect(target, 5, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target, 5);
}

int DeviceCalls = 0;

BOOL WINAPI CountedDeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)
{
    ++DeviceCalls;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// What 64-bit Windows answers for a driver whose signature it refuses.
BOOL WINAPI SignatureRefusedStartService(SC_HANDLE, DWORD, LPCSTR*)
{
    SetLastError(577); // ERROR_INVALID_IMAGE_HASH
    return FALSE;
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
DWORD ReportedPlatform()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) ? version.dwPlatformId : 0;
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// In the child: load, call the byte exports, then every export the driver
// no longer serves with the device-control routine counted (none may send a
// request), and one byte write to see the count works; report, unload.
int Child(const std::string& dll, bool unsigned_)
{
    if (unsigned_)
        Redirect("advapi32.dll", "StartServiceA", reinterpret_cast<const void*>(&SignatureRefusedStartService));
    HMODULE h = LoadLibraryA(dll.c_str());
    if (!h) {
        OutputDebugStringA("child: load failed");
        return 2;
    }
    const int32_t open = Bind<int32_t(__stdcall*)()>(h, "IsPortDriverOpen")();
    const uint16_t in = Bind<uint16_t(__stdcall*)(uint16_t)>(h, "InPortByte")(0x4F);
    Bind<void(__stdcall*)(uint16_t, uint16_t)>(h, "OutPortByte")(0x4E, 0x12E);
    const uint8_t readUchar = Bind<uint8_t(__stdcall*)(uint16_t)>(h, "ReadPortUchar")(0x4F);
    const int32_t is64 = Bind<int32_t(__stdcall*)()>(h, "Is64BitWindows")();

    Redirect("kernel32.dll", "DeviceIoControl", reinterpret_cast<const void*>(&CountedDeviceIoControl));
    unsigned refusedResults = 0; // one bit per export that gave anything but its failure value
    if (Bind<uint16_t(__stdcall*)(uint16_t)>(h, "ReadPortUshort")(0x4E) != 0)
        refusedResults |= 1;
    Bind<void(__stdcall*)(uint16_t, uint16_t)>(h, "WritePortUshort")(0x4E, 0x2E);
    if (Bind<uint32_t(__stdcall*)(uint32_t)>(h, "ReadPortUlong")(0xCFC) != 0)
        refusedResults |= 2;
    Bind<void(__stdcall*)(uint32_t, uint32_t)>(h, "WritePortUlong")(0xCF8, 0x80000000);
    void* section = reinterpret_cast<void*>(1);
    if (Bind<uint8_t*(__stdcall*)(uint32_t, uint32_t, void**)>(h, "MapPhysicalMemory")(0xF0000, 0x100, &section) ||
        section != reinterpret_cast<void*>(1))
        refusedResults |= 4;
    if (Bind<int32_t(__stdcall*)(void*, uint8_t*)>(h, "UnmapPhysicalMemory")(section, nullptr) != 0)
        refusedResults |= 8;
    uint32_t value = 0xDEADBEEF;
    if (Bind<int32_t(__stdcall*)(uint32_t, uint32_t*)>(h, "ReadPhysicalUlong")(0xF0000, &value) != 0 ||
        value != 0xDEADBEEF)
        refusedResults |= 16;
    if (Bind<int32_t(__stdcall*)(uint32_t, uint32_t)>(h, "WritePhysicalUlong")(0xF0000, 1) != 0)
        refusedResults |= 32;
    const int narrowRequests = DeviceCalls;
    Bind<void(__stdcall*)(uint16_t, uint16_t)>(h, "WritePortUchar")(0x4E, 0x2E);
    const int byteRequests = DeviceCalls - narrowRequests;

    char report[256];
    std::snprintf(report, sizeof report,
                  "child: open=%d in=%u readUchar=%u is64=%d refused=%u narrowRequests=%d byteRequests=%d "
                  "platform=%lu",
                  open, in, readUchar, is64, refusedResults, narrowRequests, byteRequests, ReportedPlatform());
    OutputDebugStringA(report);
    FreeLibrary(h);
    return 0;
}

// The debugger output of the exports the driver no longer serves, as the
// child calls them.
std::vector<std::string> RefusalLines()
{
    std::vector<std::string> lines;
    for (const char* name : {"ReadPortUshort", "WritePortUshort", "ReadPortUlong", "WritePortUlong",
                             "MapPhysicalMemory", "UnmapPhysicalMemory", "ReadPhysicalUlong", "WritePhysicalUlong"})
        lines.push_back(std::string(name) + " refused: this library reaches only single bytes of the ports 0x4E/0x4F\n");
    return lines;
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string ClosedReport(DWORD platform = VER_PLATFORM_WIN32_NT)
{
    return "open=0 in=0 readUchar=0 is64=" + std::to_string(Wow64() ? 1 : 0) +
           " refused=0 narrowRequests=0 byteRequests=0 platform=" + std::to_string(platform);
}

int Exports(const std::string& dll)
{
    HMODULE h = LoadLibraryA(dll.c_str());
    Check(h != nullptr, "load " + dll);
    if (!h)
        return 1;
    for (const char* name : VykPortExportNames)
        Check(GetProcAddress(h, name) != nullptr, std::string("export ") + name);
    FreeLibrary(h);
    return Failures ? 1 : 0;
}

void CheckInstalledService(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_CONFIG) : nullptr;
    Check(service != nullptr, std::string("service ") + name + " registered");
    if (service) {
        char buffer[8192];
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
        DWORD needed = 0;
        if (QueryServiceConfigA(service, config, sizeof buffer, &needed)) {
            Check(config->dwServiceType == SERVICE_KERNEL_DRIVER, "service is a kernel driver");
            Check(config->dwStartType == SERVICE_AUTO_START, "service starts automatically");
            Check(config->dwErrorControl == SERVICE_ERROR_NORMAL, "service error control normal");
            Check(std::string(config->lpBinaryPathName) == std::string("System32\\Drivers\\") + name + ".sys",
                  std::string("service image path ") + config->lpBinaryPathName);
            Check(std::string(config->lpDisplayName ? config->lpDisplayName : "") == name, "display name");
        } else {
            Check(false, "query service config");
        }
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
}

// Runs the child with this program's Windows version set to 98 for the
// run, as a compatibility mode would: GetVersionEx then names the 95 family.
ChildRun RunChildAsWindows98(const std::string& dll)
{
    const char key[] = "Software\\Wine\\AppDefaults\\portlib_wine_test.exe";
    HKEY h;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(h, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
        RegCloseKey(h);
    }
    ChildRun run = RunChild(dll);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
    return run;
}

// Nothing installed: the load writes the driver that fits this Windows to
// the real system directory and registers it. Wine resolves a driver's
// image path only in its "\SystemRoot\..." form, so the start fails (3) and
// the library must report the device closed and every read as 0.
int FreshLoad(const std::string& dll, const std::string& sys32, const std::string& sys64)
{
    const char* name = DriverName();
    RemoveDriver(name);
    const ChildRun run = RunChild(dll);
    Check(run.exitCode == 0, "child ran to its end");
    const std::vector<std::string> closed = Joined(
        {"Attempting to open port driver...\n", std::string("Unable to open ") + name + " driver. Error code 3.\n",
         "Error 6\n"},
        RefusalLines());
    ExpectOutput(run, closed, "fresh load");
    Check(run.results == ClosedReport(), "results with the device closed: " + run.results);

    const auto expected = ReadWholeFile(Wow64() ? sys64 : sys32);
    const auto written = ReadSystemFile(DriverFilePath(name));
    Check(!expected.empty() && written == expected,
          std::string("driver file ") + DriverFilePath(name) + " holds the built " + name + ".sys");
    CheckInstalledService(name);

    // Loaded again with the service now registered but not startable: same
    // outcome, nothing left open.
    const ChildRun again = RunChild(dll);
    ExpectOutput(again, closed, "second load");

    // Windows refusing the driver's signature: the debugger output names it.
    const ChildRun refused = RunChild(dll, "child-unsigned");
    ExpectOutput(refused,
                 Joined({"Attempting to open port driver...\n",
                         std::string("Unable to open ") + name + " driver. Error code 3.\n",
                         std::string("Windows refused the signature of ") + name +
                             ".sys (error 577, ERROR_INVALID_IMAGE_HASH)\n",
                         "Error 6\n"},
                        RefusalLines()),
                 "load whose service start is refused for the signature");

    // Told it runs on Windows 98: still the driver, never port instructions
    // in user mode (they would end the child with a privileged-instruction
    // fault at InPortByte).
    const ChildRun old = RunChildAsWindows98(dll);
    Check(old.exitCode == 0, "child told it runs on Windows 98 ran to its end");
    ExpectOutput(old, closed, "load told it runs on Windows 98");
    Check(old.results == ClosedReport(VER_PLATFORM_WIN32_WINDOWS),
          "results when told it runs on Windows 98: " + old.results);
    RemoveDriver(name);
    return Failures ? 1 : 0;
}

bool Ioctl(HANDLE device, DWORD code, void* buffer, DWORD in, DWORD out, DWORD* returned)
{
    *returned = 0;
    return DeviceIoControl(device, code, buffer, in, buffer, out, returned, nullptr) != FALSE;
}

bool Refused(HANDLE device, DWORD code, void* buffer, DWORD in, DWORD out)
{
    DWORD returned = 99;
    return !Ioctl(device, code, buffer, in, out, &returned) && GetLastError() == ERROR_ACCESS_DENIED && returned == 0;
}

std::string Hex(unsigned v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

// Requests straight to the device that Wine's driver host serves from our
// vykport32.sys: byte requests of 0x4E/0x4F are served, every other port
// and every word, doubleword, map and unmap request is refused with access
// denied and returns nothing.
void CheckDeviceRequests()
{
    HANDLE device = CreateFileA("\\\\.\\vykport32", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(device != INVALID_HANDLE_VALUE, "open \\\\.\\vykport32");
    if (device == INVALID_HANDLE_VALUE)
        return;
    DWORD returned = 0;
    uint8_t b[32] = {0x4E, 0x00};
    Check(Ioctl(device, VYK_IOCTL_WRITE_BYTE, b, 2, 0, &returned) && returned == 0,
          "short write-byte request succeeds and returns nothing");
    b[0] = 0x4E, b[2] = 0x2E;
    Check(Ioctl(device, VYK_IOCTL_WRITE_BYTE, b, 3, 0, &returned) && returned == 0, "write-byte to 0x4E served");
    b[0] = 0x4F;
    Check(Ioctl(device, VYK_IOCTL_READ_BYTE, b, 2, 1, &returned) && returned == 1, "read-byte of 0x4F returns 1 byte");
    Check(Ioctl(device, VYK_IOCTL_READ_BYTE, b, 1, 1, &returned) && returned == 0,
          "short read-byte request succeeds and returns nothing");
    Check(!Ioctl(device, VYK_CTL_CODE(0x809u), b, 4, 4, &returned) && GetLastError() == ERROR_GEN_FAILURE,
          "unknown code is unsuccessful");

    for (unsigned port : {0x00u, 0x4Du, 0x50u, 0x80u, 0xB2u, 0xCF8u, 0xCF9u, 0xCFCu, 0x14Eu, 0xFFFFu}) {
        uint8_t w[3] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8), 0x06};
        Check(Refused(device, VYK_IOCTL_WRITE_BYTE, w, 3, 0), "write-byte to " + Hex(port) + " refused");
        uint8_t r[2] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8)};
        Check(Refused(device, VYK_IOCTL_READ_BYTE, r, 2, 1) && r[0] == static_cast<uint8_t>(port),
              "read-byte of " + Hex(port) + " refused, buffer untouched");
    }
    struct Wide {
        DWORD code;
        std::vector<uint8_t> input;
        DWORD out;
        const char* what;
    } wide[] = {
        {VYK_IOCTL_READ_WORD, {0x4E, 0x00}, 2, "read-word of 0x4E"},
        {VYK_IOCTL_WRITE_WORD, {0x4E, 0x00, 0x2E, 0x00, 0x00}, 0, "write-word to 0x4E"},
        {VYK_IOCTL_READ_DWORD, {0xFC, 0x0C, 0x00, 0x00}, 4, "read-doubleword of 0xCFC"},
        {VYK_IOCTL_WRITE_DWORD, {0xF8, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, 0, "write-doubleword to 0xCF8"},
        {VYK_IOCTL_MAP_MEMORY, {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0x0F, 0, 0, 0, 0, 0}, 16,
         "map of 0x100 bytes at 0xF0000"},
        {VYK_IOCTL_MAP_MEMORY, {}, 0, "map without input"},
        {VYK_IOCTL_UNMAP_MEMORY, {0x84, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10}, 0, "unmap of a view"},
        {VYK_IOCTL_UNMAP_MEMORY, {}, 0, "unmap without input"},
    };
    for (auto& r : wide) {
        std::vector<uint8_t> buffer = r.input;
        buffer.resize(std::max<size_t>(buffer.size(), r.out) + 1, 0xEE);
        const auto before = buffer;
        Check(Refused(device, r.code, buffer.data(), static_cast<DWORD>(r.input.size()), r.out) && buffer == before,
              std::string(r.what) + " refused, buffer untouched");
    }
    CloseHandle(device);
}

// Wine's driver host loads vykport32.sys once its image path has the
// "\SystemRoot\" form: then the load opens the device, and a later load
// finds the driver running and only opens it.
int Hosted(const std::string& dll)
{
    if (Wow64()) {
        std::printf("skipped: needs a 32-bit Wine prefix\n");
        return 0;
    }
    RemoveDriver(VYK_DRIVER_NAME_32);
    RunChild(dll); // installs; Wine cannot start it from the relative path
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\vykport32", 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        const char path[] = "\\SystemRoot\\System32\\Drivers\\vykport32.sys";
        RegSetValueExA(key, "ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path), sizeof path);
        RegCloseKey(key);
    }
    const std::vector<std::string> opened =
        Joined(Joined({"Attempting to open port driver...\n", "Successfully opened ", "vykport32", " driver\n"},
                      RefusalLines()),
               {"Closing port driver...\n"});
    const ChildRun started = RunChild(dll);
    ExpectOutput(started, opened, "load that starts the service");
    Check(started.results.rfind("open=1 ", 0) == 0, "IsPortDriverOpen gives 1: " + started.results);
    // With the device open, the eight refused exports send no request; the
    // one byte write after them does (so the count is live).
    Check(started.results.find(" refused=0 narrowRequests=0 byteRequests=1 ") != std::string::npos,
          "refused exports give their failure values and send no request: " + started.results);
    const ChildRun running = RunChild(dll);
    ExpectOutput(running, opened, "load with the driver running");
    // The device's access rights cannot be read back here: Wine keeps the
    // descriptor the driver sets but shows an opened device's handle without
    // one, and opens the device for a token without the Administrators too.
    CheckDeviceRequests();
    RemoveDriver(VYK_DRIVER_NAME_32);
    return Failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string dll = argc > 2 ? WindowsPath(argv[2]) : "";
    if (mode == "child" || mode == "child-unsigned")
        return Child(dll, mode == "child-unsigned");
    if (mode == "exports")
        return Exports(dll);
    if (mode == "fresh-load" && argc > 4)
        return FreshLoad(dll, WindowsPath(argv[3]), WindowsPath(argv[4]));
    if (mode == "hosted")
        return Hosted(dll);
    std::fprintf(stderr, "usage: portlib_wine_test exports|fresh-load|hosted|child|child-unsigned <dll> [...]\n");
    return 2;
}
