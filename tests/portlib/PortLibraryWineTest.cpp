// Loads a port library under Wine the way the program does and checks what
// it does: its exports, what it writes to the debugger output (the load runs
// in a child process under this program's debug loop), its results when no
// driver opens, the driver file and service it installs, and, where Wine
// hosts the driver, requests to the driver's device.
//
//   portlib_wine_test exports <dll>
//   portlib_wine_test fresh-load <dll> <vykport32.sys> <vykportx64.sys>
//   portlib_wine_test hosted <dll>            (32-bit Wine prefix only)
//   portlib_wine_test child <dll>             (run by the others)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "portlib/VykPort32.h"
#include "portlib/VykPortRequests.h"

namespace {

int Failures = 0;

void Check(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok)
        ++Failures;
}

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

// Paths from the build tree arrive in Unix form; Wine sees / as Z:.
std::string WindowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/') {
        for (char& c : path)
            if (c == '/')
                c = '\\';
        path = "Z:" + path;
    }
    return path;
}

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

// Runs "child <dll>" under a debug loop and collects OutputDebugStringA.
ChildRun RunChild(const std::string& dll, bool bytesOnly = false)
{
    ChildRun run;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command =
        "\"" + std::string(self) + "\" " + (bytesOnly ? "child-bytes" : "child") + " \"" + dll + "\"";
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

// In the child: load, call every export once (only the byte ones when
// bytesOnly: Wine's HAL has no word or doubleword port routines), report,
// unload.
int Child(const std::string& dll, bool bytesOnly)
{
    HMODULE h = LoadLibraryA(dll.c_str());
    if (!h) {
        OutputDebugStringA("child: load failed");
        return 2;
    }
    const int32_t open = Bind<int32_t(__stdcall*)()>(h, "IsPortDriverOpen")();
    const uint16_t in = Bind<uint16_t(__stdcall*)(uint16_t)>(h, "InPortByte")(0x4F);
    Bind<void(__stdcall*)(uint16_t, uint16_t)>(h, "OutPortByte")(0x4E, 0x12E);
    const uint8_t readUchar = Bind<uint8_t(__stdcall*)(uint16_t)>(h, "ReadPortUchar")(0x4F);
    const uint16_t readUshort = bytesOnly ? 0 : Bind<uint16_t(__stdcall*)(uint16_t)>(h, "ReadPortUshort")(0x4F);
    const uint32_t readUlong = bytesOnly ? 0 : Bind<uint32_t(__stdcall*)(uint32_t)>(h, "ReadPortUlong")(0x4F);
    void* section = reinterpret_cast<void*>(1);
    uint8_t* mapped = Bind<uint8_t*(__stdcall*)(uint32_t, uint32_t, void**)>(h, "MapPhysicalMemory")(0, 0, &section);
    uint32_t value = 0xDEADBEEF;
    const int32_t readPhysical = Bind<int32_t(__stdcall*)(uint32_t, uint32_t*)>(h, "ReadPhysicalUlong")(0, &value);
    const int32_t is64 = Bind<int32_t(__stdcall*)()>(h, "Is64BitWindows")();
    char report[256];
    std::snprintf(report, sizeof report,
                  "child: open=%d in=%u readUchar=%u readUshort=%u readUlong=%u map=%d readPhysical=%d is64=%d",
                  open, in, readUchar, readUshort, static_cast<unsigned>(readUlong), mapped ? 1 : 0, readPhysical,
                  is64);
    OutputDebugStringA(report);
    FreeLibrary(h);
    return 0;
}

std::string ClosedReport()
{
    return "open=0 in=0 readUchar=0 readUshort=0 readUlong=0 map=0 readPhysical=0 is64=" +
           std::to_string(Wow64() ? 1 : 0);
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
    ExpectOutput(run,
                 {"Attempting to open port driver...\n",
                  std::string("Unable to open ") + name + " driver. Error code 3.\n", "Error 6\n"},
                 "fresh load");
    Check(run.results == ClosedReport(), "results with the device closed: " + run.results);

    const auto expected = ReadWholeFile(Wow64() ? sys64 : sys32);
    const auto written = ReadSystemFile(DriverFilePath(name));
    Check(!expected.empty() && written == expected,
          std::string("driver file ") + DriverFilePath(name) + " holds the built " + name + ".sys");
    CheckInstalledService(name);

    // Loaded again with the service now registered but not startable: same
    // outcome, nothing left open.
    const ChildRun again = RunChild(dll);
    ExpectOutput(again,
                 {"Attempting to open port driver...\n",
                  std::string("Unable to open ") + name + " driver. Error code 3.\n", "Error 6\n"},
                 "second load");
    RemoveDriver(name);
    return Failures ? 1 : 0;
}

bool Ioctl(HANDLE device, DWORD code, void* buffer, DWORD in, DWORD out, DWORD* returned)
{
    *returned = 0;
    return DeviceIoControl(device, code, buffer, in, buffer, out, returned, nullptr) != FALSE;
}

// Requests straight to the device that Wine's driver host serves from our
// vykport32.sys.
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
    b[0] = 0x4F;
    Check(Ioctl(device, VYK_IOCTL_READ_BYTE, b, 2, 1, &returned) && returned == 1, "read-byte returns 1 byte");
    Check(Ioctl(device, VYK_IOCTL_READ_BYTE, b, 1, 1, &returned) && returned == 0,
          "short read-byte request succeeds and returns nothing");
    Check(!Ioctl(device, VYK_CTL_CODE(0x809u), b, 4, 4, &returned) && GetLastError() == ERROR_GEN_FAILURE,
          "unknown code is unsuccessful");
    VykMapRecord32 record{0, 0, 0xF0000, 0};
    Check(!Ioctl(device, VYK_IOCTL_MAP_MEMORY, &record, sizeof record, sizeof record, &returned) &&
              GetLastError() == ERROR_INVALID_PARAMETER,
          "map of zero bytes refused");
    record = {0, 0x2000, 0xFFFFF000, 0};
    Check(!Ioctl(device, VYK_IOCTL_MAP_MEMORY, &record, sizeof record, sizeof record, &returned) &&
              GetLastError() == ERROR_INVALID_PARAMETER,
          "map of a range past 4 GiB refused");
    record = {0, 0x100, 0xF0000, 0};
    Check(!Ioctl(device, VYK_IOCTL_MAP_MEMORY, &record, 8, 8, &returned) && GetLastError() == ERROR_INVALID_PARAMETER,
          "map with a short record refused");
    Check(!Ioctl(device, VYK_IOCTL_UNMAP_MEMORY, &record, 0, 0, &returned) &&
              GetLastError() == ERROR_INVALID_PARAMETER,
          "unmap without input refused");
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
    RunChild(dll, true); // installs; Wine cannot start it from the relative path
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\vykport32", 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        const char path[] = "\\SystemRoot\\System32\\Drivers\\vykport32.sys";
        RegSetValueExA(key, "ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path), sizeof path);
        RegCloseKey(key);
    }
    const std::vector<std::string> opened = {"Attempting to open port driver...\n", "Successfully opened ", "vykport32",
                                             " driver\n", "Closing port driver...\n"};
    const ChildRun started = RunChild(dll, true);
    ExpectOutput(started, opened, "load that starts the service");
    Check(started.results.rfind("open=1 ", 0) == 0, "IsPortDriverOpen gives 1: " + started.results);
    const ChildRun running = RunChild(dll, true);
    ExpectOutput(running, opened, "load with the driver running");
    CheckDeviceRequests();
    RemoveDriver(VYK_DRIVER_NAME_32);
    return Failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string dll = argc > 2 ? WindowsPath(argv[2]) : "";
    if (mode == "child" || mode == "child-bytes")
        return Child(dll, mode == "child-bytes");
    if (mode == "exports")
        return Exports(dll);
    if (mode == "fresh-load" && argc > 4)
        return FreshLoad(dll, WindowsPath(argv[3]), WindowsPath(argv[4]));
    if (mode == "hosted")
        return Hosted(dll);
    std::fprintf(stderr, "usage: portlib_wine_test exports|fresh-load|hosted|child <dll> [...]\n");
    return 2;
}
