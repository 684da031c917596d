// Loads a port library under Wine the way the program does and checks what
// it does: its exports, what it writes to the debugger output (the load runs
// in a child process under this program's debug loop), the driver file and
// service it installs, that Wine's driver host then runs the driver that
// fits (vykportx64 in the 64-bit host when the library runs under WOW64)
// and EC RAM accesses through the byte exports reach its ports, that the
// exports the driver no longer serves send it no request, that a 95/98
// compatibility mode does not make it execute port instructions, its
// results when no driver opens, and the requests the hosted driver serves
// and refuses (the retired byte requests among them).
//
// In a 64-bit prefix the driver's own port instructions would end Wine's
// host: a 64-bit stand-in (HostedPortStandIn.cpp) carries them out, and
// every port access it saw must be one a request asked for.
//
//   portlib_wine_test exports <dll>
//   portlib_wine_test fresh-load <dll> <vykport32.sys> <vykportx64.sys> <stand-in>
//   portlib_wine_test hosted <dll> <stand-in>
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
#include "tests/portlib/DebugEvents.h"
#include "tests/portlib/SuperIoStandIn.h"

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

// While it lives, the system directory is the real one, past WOW64's
// redirection.
class RealSystemDirectory {
public:
    RealSystemDirectory() : off_(Wow64() && Wow64DisableWow64FsRedirection(&old_)) {}
    ~RealSystemDirectory()
    {
        if (off_)
            Wow64RevertWow64FsRedirection(old_);
    }

private:
    PVOID old_ = nullptr;
    bool off_;
};

std::vector<char> ReadSystemFile(const std::string& path)
{
    RealSystemDirectory real;
    return ReadWholeFile(path);
}

// Stops or starts the driver's service and waits until it has stopped or
// runs.
bool Control(const char* name, bool start)
{
    bool reached = false;
    if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        if (SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS)) {
            SERVICE_STATUS status{};
            bool asked = true; // a stop of a stopped service fails, and is done
            if (start)
                asked = StartServiceA(service, 0, nullptr) != FALSE;
            else
                ControlService(service, SERVICE_CONTROL_STOP, &status);
            const DWORD wanted = start ? SERVICE_RUNNING : SERVICE_STOPPED;
            for (int i = 0; asked && i < 500 && QueryServiceStatus(service, &status) && status.dwCurrentState != wanted;
                 ++i)
                Sleep(20);
            reached = asked && status.dwCurrentState == wanted;
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    return reached;
}

// Back to a machine where nothing was ever installed.
void RemoveDriver(const char* name)
{
    Control(name, false);
    if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        if (SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS)) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    RealSystemDirectory real;
    DeleteFileA(DriverFilePath(name).c_str());
}

const char StandInAttached[] = "VYK_UU port stand-in attached";

// What the hosted driver's ports give: in a 64-bit prefix those of the
// 64-bit stand-in, started before any driver loads, each access predicted
// with the line it logs; in a 32-bit one Wine's HAL, which reads every port
// as 0 and shows nothing.
class Ports {
public:
    explicit Ports(const std::string& standInExe)
    {
        if (Wow64())
            live_ = Start(standInExe);
        Check(live_ == Wow64(), std::string("the ports: ") + (Wow64() ? "the 64-bit stand-in" : "Wine's HAL"));
    }
    ~Ports()
    {
        Finish();
        for (HANDLE h : {attached_, done_})
            if (h)
                CloseHandle(h);
    }

    void Out(uint16_t port, uint8_t value)
    {
        if (live_)
            expected_.push_back(model_.Out(port, value));
    }
    uint8_t In(uint16_t port)
    {
        uint8_t value = 0;
        if (live_)
            expected_.push_back(model_.In(port, &value));
        return value;
    }
    // The twelve port operations the driver makes for one EC RAM access.
    void EcWrite(uint16_t address, uint8_t value)
    {
        SelectEcData(address);
        Out(0x4E, 0x2F);
        Out(0x4F, value);
    }
    uint8_t EcRead(uint16_t address)
    {
        SelectEcData(address);
        Out(0x4E, 0x2F);
        return In(0x4F);
    }
    bool WaitAttached() const { return !live_ || WaitForSingleObject(attached_, 30000) == WAIT_OBJECT_0; }

    // Ends the stand-in: every port access the driver made, and no other,
    // was asked for.
    void CheckSeen()
    {
        if (!live_)
            return;
        const auto seen = Finish();
        Check(seen == expected_, "the driver's port accesses are exactly those requested (" +
                                     std::to_string(expected_.size()) + ")");
        if (seen != expected_) {
            for (const auto& l : seen)
                std::printf("       seen     %s\n", l.c_str());
            for (const auto& l : expected_)
                std::printf("       expected %s\n", l.c_str());
        }
    }

private:
    void SelectEcData(uint16_t address)
    {
        const uint8_t traffic[] = {0x2E, 0x11, 0x2F, uint8_t(address >> 8), 0x2E, 0x10, 0x2F, uint8_t(address), 0x2E, 0x12};
        for (size_t i = 0; i < sizeof traffic; i += 2) {
            Out(0x4E, traffic[i]);
            Out(0x4F, traffic[i + 1]);
        }
    }

    bool Start(const std::string& exe)
    {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        log_ = std::string(dir) + "vyk-port-stand-in.log";
        // Made here, so that no child misses it.
        attached_ = CreateEventA(nullptr, TRUE, FALSE, StandInAttached);
        done_ = CreateEventA(nullptr, TRUE, FALSE, "VYK_UU port stand-in done");
        // Its log goes to a file: a pipe would wait for Wine's services too.
        std::string command = "\"" + exe + "\" " VYK_DRIVER_NAME_64 ".sys \"" + log_ + "\" " +
                              std::to_string(GetCurrentProcessId());
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!attached_ || !done_ ||
            !CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        return true;
    }

    std::vector<std::string> Finish()
    {
        std::vector<std::string> lines;
        if (!process_)
            return lines;
        SetEvent(done_);
        WaitForSingleObject(process_, 30000);
        CloseHandle(process_);
        process_ = nullptr;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        in.close();
        DeleteFileA(log_.c_str());
        return lines;
    }

    bool live_ = false;
    vyk::winetest::SuperIoStandIn model_;
    std::vector<std::string> expected_;
    std::string log_;
    HANDLE attached_ = nullptr, done_ = nullptr, process_ = nullptr;
};

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
        vyk::winetest::CloseEventFiles(event);
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
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

// What the child writes and reads: a mailbox register, and one byte of the
// mailbox's version area it only reads.
constexpr uint16_t ChildAddress = 0xD213;
constexpr uint8_t ChildValue = 0xA6;
constexpr uint16_t ChildOtherAddress = 0xD220;

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

// The traffic of one EC RAM access as the program writes it, through a
// library's byte write export; a read ends with the read export given.
template <typename Out, typename In> unsigned EcAccess(Out out, In in, uint16_t address, int value)
{
    const uint8_t traffic[] = {0x2E, 0x11, 0x2F, uint8_t(address >> 8), 0x2E, 0x10, 0x2F, uint8_t(address), 0x2E, 0x12};
    for (size_t i = 0; i < sizeof traffic; i += 2) {
        out(0x4E, traffic[i]);
        out(0x4F, traffic[i + 1]);
    }
    out(0x4E, 0x2F);
    if (value >= 0) {
        out(0x4F, static_cast<uint8_t>(value));
        return 0;
    }
    return in(0x4F);
}

// In the child: load, write and read EC RAM through the byte exports, then
// call every export the driver no longer serves with the device-control
// routine counted (none may send a request), and one EC RAM write to see the
// count works; report, unload.
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
    // The stand-in for a 64-bit host's ports has to be attached to it first.
    if (HANDLE standIn = open ? OpenEventA(SYNCHRONIZE, FALSE, StandInAttached) : nullptr) {
        WaitForSingleObject(standIn, 30000);
        CloseHandle(standIn);
    }
    const auto outPortByte = Bind<void(__stdcall*)(uint16_t, uint16_t)>(h, "OutPortByte");
    const auto inPortByte = Bind<uint16_t(__stdcall*)(uint16_t)>(h, "InPortByte");
    const auto writePortUchar = Bind<void(__stdcall*)(uint16_t, uint8_t)>(h, "WritePortUchar");
    const auto readPortUchar = Bind<uint8_t(__stdcall*)(uint16_t)>(h, "ReadPortUchar");
    // A value above 255 writes its low 8 bits.
    EcAccess(outPortByte, inPortByte, ChildAddress, 0x100 | ChildValue);
    const unsigned in = EcAccess(outPortByte, inPortByte, ChildAddress, -1);
    const unsigned readUchar = EcAccess(writePortUchar, readPortUchar, ChildOtherAddress, -1);
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
    EcAccess(writePortUchar, readPortUchar, ChildAddress, 0x2E);
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
        lines.push_back(std::string(name) +
                        " refused: this library reaches only the PD mailbox in EC RAM, through the ports 0x4E/0x4F\n");
    return lines;
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Report(bool open, unsigned in, unsigned readUchar, DWORD platform)
{
    return "open=" + std::to_string(open) + " in=" + std::to_string(in) + " readUchar=" + std::to_string(readUchar) +
           " is64=" + std::to_string(Wow64() ? 1 : 0) + " refused=0 narrowRequests=0 byteRequests=" +
           std::to_string(open) + " platform=" + std::to_string(platform);
}

std::string ClosedReport(DWORD platform = VER_PLATFORM_WIN32_NT) { return Report(false, 0, 0, platform); }

// A child's report with the device open; its requests reach <ports> in the
// child's order (the last byte write goes to the counting stand-in only).
std::string OpenReport(Ports& ports, DWORD platform = VER_PLATFORM_WIN32_NT)
{
    ports.EcWrite(ChildAddress, ChildValue);
    const unsigned in = ports.EcRead(ChildAddress);
    return Report(true, in, ports.EcRead(ChildOtherAddress), platform);
}

std::vector<std::string> OpenedOutput(const char* name)
{
    return Joined(Joined({"Attempting to open port driver...\n", "Successfully opened ", name, " driver\n"},
                         RefusalLines()),
                  {"Closing port driver...\n"});
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
            Check(std::string(config->lpBinaryPathName) == "\\??\\" + DriverFilePath(name),
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

FILETIME DriverFileTime(const char* name)
{
    FILETIME written{};
    RealSystemDirectory real;
    HANDLE file = CreateFileA(DriverFilePath(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        GetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
    }
    return written;
}

// Nothing installed: the load writes the driver that fits this Windows to
// the real system directory, registers it, Wine's host for its bitness
// starts it, and the device opens. Later loads find it running.
int FreshLoad(const std::string& dll, const std::string& sys32, const std::string& sys64,
              const std::string& standInExe)
{
    const char* name = DriverName();
    RemoveDriver(name);
    Ports ports(standInExe);
    const ChildRun run = RunChild(dll);
    Check(run.exitCode == 0, "child ran to its end");
    ExpectOutput(run, OpenedOutput(name), "fresh load");
    Check(run.results == OpenReport(ports), "results with the device open: " + run.results);

    const auto expected = ReadWholeFile(Wow64() ? sys64 : sys32);
    const auto written = ReadSystemFile(DriverFilePath(name));
    Check(!expected.empty() && written == expected,
          std::string("driver file ") + DriverFilePath(name) + " holds the built " + name + ".sys");
    CheckInstalledService(name);

    const FILETIME before = DriverFileTime(name);
    const ChildRun again = RunChild(dll);
    ExpectOutput(again, OpenedOutput(name), "load with the driver running");
    Check(again.results == OpenReport(ports), "results of that load: " + again.results);
    const FILETIME after = DriverFileTime(name);
    Check(CompareFileTime(&before, &after) == 0, "a load with the driver running writes no driver file");

    // Windows refusing the driver's signature: the debugger output names it.
    Check(Control(name, false), "stop the driver's service");
    const ChildRun refused = RunChild(dll, "child-unsigned");
    ExpectOutput(refused,
                 Joined({"Attempting to open port driver...\n",
                         std::string("Unable to open ") + name + " driver. Error code 3.\n",
                         std::string("Windows refused the signature of ") + name +
                             ".sys (error 577, ERROR_INVALID_IMAGE_HASH)\n",
                         "Error 6\n"},
                        RefusalLines()),
                 "load whose service start is refused for the signature");
    Check(refused.results == ClosedReport(), "results with the device closed: " + refused.results);

    // Told it runs on Windows 98: still the driver (started again from its
    // stopped service), never port instructions in user mode (they would
    // end the child with a privileged-instruction fault).
    const ChildRun old = RunChildAsWindows98(dll);
    Check(old.exitCode == 0, "child told it runs on Windows 98 ran to its end");
    ExpectOutput(old, OpenedOutput(name), "load told it runs on Windows 98");
    Check(old.results == OpenReport(ports, VER_PLATFORM_WIN32_WINDOWS),
          "results when told it runs on Windows 98: " + old.results);
    ports.CheckSeen();
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

HANDLE OpenDevice(const char* name)
{
    return CreateFileA((std::string("\\\\.\\") + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// An EC RAM write and a read of the same byte, served as <ports> say.
void CheckServed(HANDLE device, Ports& ports, uint16_t address, uint8_t value, const std::string& what)
{
    DWORD returned = 0;
    uint8_t b[3] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), value};
    const bool written = Ioctl(device, VYK_IOCTL_EC_WRITE, b, 3, 0, &returned) && returned == 0;
    Check(written, what + ": EC write of " + Hex(value) + " to " + Hex(address) + " served");
    ports.EcWrite(address, value);
    b[0] = static_cast<uint8_t>(address), b[1] = static_cast<uint8_t>(address >> 8);
    const uint8_t want = ports.EcRead(address);
    const bool read = Ioctl(device, VYK_IOCTL_EC_READ, b, 2, 1, &returned) && returned == 1;
    Check(read && b[0] == want, what + ": EC read of " + Hex(address) + " gives 1 byte, " + Hex(b[0]) + " (the EC's " +
                                    Hex(want) + ")");
}

// Requests straight to the device that Wine's driver host serves from the
// driver: EC RAM requests for the mailbox are served; one cut short is an
// invalid parameter; every other EC address, the retired byte, word,
// doubleword, map and unmap requests are refused with access denied and
// return nothing; a handle opened without read and write access gets no EC
// request through. The device opens again after a close.
void CheckDeviceRequests(const char* name, Ports& ports)
{
    HANDLE device = OpenDevice(name);
    Check(device != INVALID_HANDLE_VALUE, std::string("open \\\\.\\") + name);
    if (device == INVALID_HANDLE_VALUE)
        return;
    DWORD returned = 0;
    uint8_t b[32] = {0x13, 0xD2};
    Check(!Ioctl(device, VYK_IOCTL_EC_WRITE, b, 2, 0, &returned) && GetLastError() == ERROR_INVALID_PARAMETER &&
              returned == 0,
          "EC write without its value is an invalid parameter");
    CheckServed(device, ports, 0xD213, 0xA6, "mailbox command");
    CheckServed(device, ports, 0xCCFF, 0x5A, "transfer window");
    CheckServed(device, ports, 0x1060, 0x80, "EC set-up register");
    Check(!Ioctl(device, VYK_IOCTL_EC_READ, b, 1, 1, &returned) && GetLastError() == ERROR_INVALID_PARAMETER &&
              returned == 0,
          "EC read without a whole address is an invalid parameter");
    Check(!Ioctl(device, VYK_CTL_CODE(0x80Bu), b, 4, 4, &returned) && GetLastError() == ERROR_GEN_FAILURE,
          "unknown code is unsuccessful");
    for (unsigned address : {0x0000u, 0x105Fu, 0x1061u, 0xCBFFu, 0xCD00u, 0xD211u, 0xD248u, 0xF000u, 0xFFFFu}) {
        uint8_t w[3] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), 0x06};
        Check(Refused(device, VYK_IOCTL_EC_WRITE, w, 3, 0), "EC write to " + Hex(address) + " refused");
        uint8_t r[2] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
        Check(Refused(device, VYK_IOCTL_EC_READ, r, 2, 1) && r[0] == static_cast<uint8_t>(address),
              "EC read of " + Hex(address) + " refused, buffer untouched");
    }
    struct Retired {
        DWORD code;
        std::vector<uint8_t> input;
        DWORD out;
        const char* what;
    } retired[] = {
        {VYK_IOCTL_WRITE_BYTE, {0x4E, 0x00, 0x2E}, 0, "write-byte to 0x4E"},
        {VYK_IOCTL_WRITE_BYTE, {0x4F, 0x00, 0x07}, 0, "write-byte to 0x4F"},
        {VYK_IOCTL_READ_BYTE, {0x4F, 0x00}, 1, "read-byte of 0x4F"},
        {VYK_IOCTL_READ_BYTE, {0xF9, 0x0C}, 1, "read-byte of 0xCF9"},
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
    for (auto& r : retired) {
        std::vector<uint8_t> buffer = r.input;
        buffer.resize(std::max<size_t>(buffer.size(), r.out) + 1, 0xEE);
        const auto before = buffer;
        Check(Refused(device, r.code, buffer.data(), static_cast<DWORD>(r.input.size()), r.out) && buffer == before,
              std::string(r.what) + " refused, buffer untouched");
    }
    CloseHandle(device);

    // The EC requests demand read and write access of the handle.
    for (DWORD access : {DWORD(GENERIC_READ), DWORD(GENERIC_WRITE)}) {
        HANDLE partial = CreateFileA((std::string("\\\\.\\") + name).c_str(), access, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        Check(partial != INVALID_HANDLE_VALUE, "open the device for " + Hex(access) + " only");
        if (partial == INVALID_HANDLE_VALUE)
            continue;
        uint8_t w[3] = {0x13, 0xD2, 0xA1};
        Check(Refused(partial, VYK_IOCTL_EC_WRITE, w, 3, 0), "EC write through a handle for " + Hex(access) + " refused");
        uint8_t r[2] = {0x13, 0xD2};
        Check(Refused(partial, VYK_IOCTL_EC_READ, r, 2, 1), "EC read through a handle for " + Hex(access) + " refused");
        CloseHandle(partial);
    }

    device = OpenDevice(name);
    Check(device != INVALID_HANDLE_VALUE, "the device opens again after a close");
    if (device != INVALID_HANDLE_VALUE) {
        CheckServed(device, ports, 0xD212, 0x01, "opened again");
        CloseHandle(device);
    }
}

// The library installs the driver, Wine hosts it; its device then serves
// and refuses requests as it must, goes with the driver's stop and is back
// with its start.
int Hosted(const std::string& dll, const std::string& standInExe)
{
    const char* name = DriverName();
    RemoveDriver(name);
    Ports ports(standInExe);
    const ChildRun installed = RunChild(dll);
    Check(installed.results == OpenReport(ports), std::string("the library installs and opens ") + name);
    // The device's access rights cannot be read back here: Wine keeps the
    // descriptor the driver sets but shows an opened device's handle without
    // one, and opens the device for a token without the Administrators too.
    CheckDeviceRequests(name, ports);

    Check(Control(name, false), "stop the driver's service");
    const HANDLE gone = OpenDevice(name);
    Check(gone == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND,
          "no device while the driver is stopped");
    if (gone != INVALID_HANDLE_VALUE)
        CloseHandle(gone);
    Check(Control(name, true), "start the driver's service again");
    Check(ports.WaitAttached(), "the stand-in is attached to the driver's host");
    if (HANDLE device = OpenDevice(name); device != INVALID_HANDLE_VALUE) {
        CheckServed(device, ports, 0xD218, 0xA7, "started again");
        CloseHandle(device);
    } else {
        Check(false, "the device is back with the driver's start");
    }
    ports.CheckSeen();
    RemoveDriver(name);
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
    if (mode == "fresh-load" && argc > 5)
        return FreshLoad(dll, WindowsPath(argv[3]), WindowsPath(argv[4]), WindowsPath(argv[5]));
    if (mode == "hosted" && argc > 3)
        return Hosted(dll, WindowsPath(argv[3]));
    std::fprintf(stderr, "usage: portlib_wine_test exports|fresh-load|hosted|child|child-unsigned <dll> [...]\n");
    return 2;
}
