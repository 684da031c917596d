// The requests the built port library sends to its driver, byte for byte,
// run under Wine. The library is mapped without its imports; this program
// resolves them itself and puts stand-ins in place of the device and service
// calls, then runs the library's start-up. So every device open, request and
// debugger message is seen as the library makes it, and no port, driver or
// service of the machine is touched.
//
//   portlib_request_test <vykport32.dll>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <cstring>
#include <string>
#include <vector>

#include "portlib/VykPortRequests.h"

#include "tests/WineCheck.h"

namespace {

using vyk::winetest::Failures;
using vyk::winetest::Check;
using vyk::winetest::Escape;

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string s;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X ", v);
        s += b;
    }
    return s.empty() ? "-" : s.substr(0, s.size() - 1);
}

// ---- the stand-ins ----

const HANDLE FakeDevice = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7A50));
const HANDLE FakeFile = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7A54));
const SC_HANDLE FakeManager = reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(0x7A58));

struct OpenCall {
    std::string path;
    DWORD access, share, disposition, attributes;
    bool security, templateFile;
};

struct DeviceCall {
    HANDLE device;
    DWORD code;
    std::vector<uint8_t> in;
    DWORD inLength, outLength;
    bool overlapped, returnedGiven;
};

struct World {
    bool deviceOpens = true;
    // The answer of the next device calls: bytes into the output buffer, or a
    // failure with this error code.
    std::vector<uint8_t> answer;
    DWORD failWith = 0;
    // A driver an earlier build installed: it knows no EC RAM request.
    bool olderDriver = false;

    std::vector<OpenCall> opens;
    std::vector<DeviceCall> calls;
    std::vector<std::string> debug;
    int deviceCloses = 0;
    int serviceCalls = 0;

    // With administrator rights the driver file opens and takes at most
    // writeLimit bytes per write (writeError: the write fails), and the
    // service is registered; it never starts.
    bool admin = false;
    DWORD writeLimit = 0, writeError = 0, closeError = 0, fileBytes = 0;
    std::string servicePath;
    std::vector<std::string> deletes;

    void Clear()
    {
        opens.clear();
        calls.clear();
        debug.clear();
        deletes.clear();
        servicePath.clear();
        deviceCloses = serviceCalls = 0;
        fileBytes = 0;
        answer.clear();
        failWith = 0;
    }
};

World W;

HANDLE WINAPI StandInCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD attributes, HANDLE templateFile)
{
    W.opens.push_back({path ? path : "", access, share, disposition, attributes, security != nullptr,
                       templateFile != nullptr});
    const std::string p = path ? path : "";
    if (W.deviceOpens && (p == "\\\\.\\" VYK_DRIVER_NAME_32 || p == "\\\\.\\" VYK_DRIVER_NAME_64))
        return FakeDevice;
    if (W.admin && p.find("\\Drivers\\") != std::string::npos)
        return FakeFile;
    // Nothing else may be opened or written: the driver file stays unwritten.
    SetLastError(p.rfind("\\\\.\\", 0) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI StandInDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inLength, LPVOID out,
                                   DWORD outLength, LPDWORD returned, LPOVERLAPPED overlapped)
{
    DeviceCall c{device, code, {}, inLength, outLength, overlapped != nullptr, returned != nullptr};
    if (in)
        c.in.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inLength);
    W.calls.push_back(c);
    if (returned)
        *returned = 0;
    // As the drivers answer: ours refuses an EC RAM request cut short, the
    // older one every code it does not know.
    const bool ec = code == VYK_IOCTL_EC_READ || code == VYK_IOCTL_EC_WRITE;
    const DWORD minIn = code == VYK_IOCTL_EC_READ ? VYK_EC_READ_IN : VYK_EC_WRITE_IN;
    const DWORD minOut = code == VYK_IOCTL_EC_READ ? VYK_EC_READ_OUT : VYK_EC_WRITE_OUT;
    const DWORD error = W.olderDriver && ec                              ? ERROR_GEN_FAILURE
                        : ec && (inLength < minIn || outLength < minOut) ? ERROR_INVALID_PARAMETER
                                                                         : W.failWith;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    const DWORD n = static_cast<DWORD>(W.answer.size()) < outLength ? static_cast<DWORD>(W.answer.size()) : outLength;
    if (n)
        std::memcpy(out, W.answer.data(), n);
    if (returned)
        *returned = n;
    return TRUE;
}

BOOL WINAPI StandInCloseHandle(HANDLE h)
{
    if (h == FakeDevice) {
        ++W.deviceCloses;
        return TRUE;
    }
    if (h == FakeFile) {
        if (W.closeError) {
            SetLastError(W.closeError);
            return FALSE;
        }
        return TRUE;
    }
    return CloseHandle(h);
}

void WINAPI StandInOutputDebugStringA(LPCSTR text) { W.debug.push_back(text ? text : ""); }

// A user without administrator rights: the service manager answers "access
// denied" to every open.
SC_HANDLE WINAPI StandInOpenSCManagerA(LPCSTR, LPCSTR, DWORD)
{
    ++W.serviceCalls;
    if (W.admin)
        return FakeManager;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

SC_HANDLE WINAPI StandInOpenServiceA(SC_HANDLE, LPCSTR, DWORD)
{
    ++W.serviceCalls;
    SetLastError(W.admin ? ERROR_SERVICE_DOES_NOT_EXIST : ERROR_ACCESS_DENIED);
    return nullptr;
}

SC_HANDLE WINAPI StandInCreateServiceA(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR path, LPCSTR,
                                       LPDWORD, LPCSTR, LPCSTR, LPCSTR)
{
    ++W.serviceCalls;
    if (W.admin) {
        W.servicePath = path ? path : "";
        return FakeManager;
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

BOOL WINAPI StandInStartServiceA(SC_HANDLE, DWORD, LPCSTR*)
{
    ++W.serviceCalls;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

BOOL WINAPI StandInCloseServiceHandle(SC_HANDLE)
{
    ++W.serviceCalls;
    return TRUE;
}

BOOL WINAPI StandInWriteFile(HANDLE file, LPCVOID, DWORD length, LPDWORD written, LPOVERLAPPED)
{
    const DWORD n = file == FakeFile && length > W.writeLimit ? W.writeLimit : length;
    if (written)
        *written = file == FakeFile ? n : 0;
    if (file != FakeFile || W.writeError) {
        SetLastError(file == FakeFile ? W.writeError : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    W.fileBytes += n;
    return TRUE;
}

BOOL WINAPI StandInDeleteFileA(LPCSTR path)
{
    W.deletes.push_back(path ? path : "");
    return TRUE;
}

struct StandIn {
    const char* name;
    FARPROC function;
};

template <typename F> FARPROC AsProc(F f) { return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f)); }

const StandIn StandIns[] = {
    {"CreateFileA", AsProc(StandInCreateFileA)},
    {"DeviceIoControl", AsProc(StandInDeviceIoControl)},
    {"CloseHandle", AsProc(StandInCloseHandle)},
    {"OutputDebugStringA", AsProc(StandInOutputDebugStringA)},
    {"OpenSCManagerA", AsProc(StandInOpenSCManagerA)},
    {"OpenServiceA", AsProc(StandInOpenServiceA)},
    {"CreateServiceA", AsProc(StandInCreateServiceA)},
    {"StartServiceA", AsProc(StandInStartServiceA)},
    {"CloseServiceHandle", AsProc(StandInCloseServiceHandle)},
    {"WriteFile", AsProc(StandInWriteFile)},
    {"DeleteFileA", AsProc(StandInDeleteFileA)},
};

// ---- loading the library with its imports our own ----

template <typename T> T At(HMODULE base, DWORD rva)
{
    return reinterpret_cast<T>(reinterpret_cast<uint8_t*>(base) + rva);
}

// Fills the import address table: stand-ins by name, the system for the rest.
bool ResolveImports(HMODULE base)
{
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = At<const IMAGE_NT_HEADERS32*>(base, dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return false;
    for (auto* d = At<const IMAGE_IMPORT_DESCRIPTOR*>(base, dir.VirtualAddress); d->Name; ++d) {
        HMODULE system = LoadLibraryA(At<const char*>(base, d->Name));
        if (!system)
            return false;
        auto* names = At<const IMAGE_THUNK_DATA32*>(base, d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk);
        auto* slots = At<IMAGE_THUNK_DATA32*>(base, d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            FARPROC f = nullptr;
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) {
                f = GetProcAddress(system, MAKEINTRESOURCEA(IMAGE_ORDINAL32(names->u1.Ordinal)));
            } else {
                const char* name = reinterpret_cast<const char*>(
                    At<const IMAGE_IMPORT_BY_NAME*>(base, names->u1.AddressOfData)->Name);
                for (const StandIn& s : StandIns)
                    if (std::strcmp(s.name, name) == 0)
                        f = s.function;
                if (!f)
                    f = GetProcAddress(system, name);
            }
            if (!f)
                return false;
            DWORD old = 0;
            VirtualProtect(slots, sizeof *slots, PAGE_READWRITE, &old);
            slots->u1.Function = static_cast<DWORD>(reinterpret_cast<uintptr_t>(f));
            VirtualProtect(slots, sizeof *slots, old, &old);
        }
    }
    return true;
}

using EntryPoint = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

struct Library {
    HMODULE base = nullptr;
    EntryPoint entry = nullptr;

    bool Map(const std::string& path)
    {
        base = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        if (!base || !ResolveImports(base))
            return false;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = At<const IMAGE_NT_HEADERS32*>(base, dos->e_lfanew);
        entry = At<EntryPoint>(base, nt->OptionalHeader.AddressOfEntryPoint);
        return true;
    }
    // What the system does at LoadLibrary and FreeLibrary.
    BOOL Attach() { return entry(base, DLL_PROCESS_ATTACH, nullptr); }
    void Detach() { entry(base, DLL_PROCESS_DETACH, nullptr); }

    template <typename T> T Export(const char* name)
    {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(base, name)));
    }
};

bool Wow64()
{
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

void ExpectDebug(const std::vector<std::string>& want, const std::string& what)
{
    const bool same = W.debug == want;
    Check(same, what + ": debugger output");
    if (!same) {
        for (const auto& s : W.debug)
            std::printf("       got      \"%s\"\n", Escape(s).c_str());
        for (const auto& s : want)
            std::printf("       expected \"%s\"\n", Escape(s).c_str());
    }
}

// One device call with this code, input bytes and output length.
void ExpectCall(DWORD code, const std::vector<uint8_t>& in, DWORD outLength, const std::string& what)
{
    if (W.calls.size() != 1) {
        Check(false, what + ": one device call, got " + std::to_string(W.calls.size()));
        return;
    }
    const DeviceCall& c = W.calls[0];
    char codeText[16];
    std::snprintf(codeText, sizeof codeText, "0x%08lX", static_cast<unsigned long>(c.code));
    Check(c.device == FakeDevice, what + ": on the opened device");
    Check(c.code == code, what + ": request code " + codeText);
    Check(c.in == in && c.inLength == in.size(), what + ": input " + Hex(c.in));
    Check(c.outLength == outLength, what + ": output length " + std::to_string(c.outLength));
    Check(!c.overlapped && c.returnedGiven, what + ": synchronous, with a place for the count returned");
}

int Run(const std::string& dll)
{
    const char* name = Wow64() ? VYK_DRIVER_NAME_64 : VYK_DRIVER_NAME_32;
    const std::string devicePath = std::string("\\\\.\\") + name;
    Library lib;
    Check(lib.Map(dll), "map " + dll + " and resolve its imports");
    if (!lib.entry)
        return 1;
    using Open = int32_t(__stdcall*)();
    using Out = void(__stdcall*)(uint16_t, uint16_t);
    using In = uint16_t(__stdcall*)(uint16_t);
    using ReadUchar = uint8_t(__stdcall*)(uint16_t);
    using WriteUchar = void(__stdcall*)(uint16_t, uint8_t);
    const auto isOpen = lib.Export<Open>("IsPortDriverOpen");
    const auto outPortByte = lib.Export<Out>("OutPortByte");
    const auto inPortByte = lib.Export<In>("InPortByte");
    const auto readPortUchar = lib.Export<ReadUchar>("ReadPortUchar");
    const auto writePortUchar = lib.Export<WriteUchar>("WritePortUchar");
    Check(isOpen && outPortByte && inPortByte && readPortUchar && writePortUchar, "the byte exports are there");
    if (!isOpen || !outPortByte || !inPortByte || !readPortUchar || !writePortUchar)
        return 1;

    // ---- the driver answers ----
    W.Clear();
    Check(lib.Attach() != FALSE, "the load succeeds");
    Check(W.opens.size() == 1, "one open at load, got " + std::to_string(W.opens.size()));
    if (!W.opens.empty()) {
        const OpenCall& o = W.opens[0];
        Check(o.path == devicePath, "the device " + devicePath + " is opened: " + o.path);
        Check(o.access == (GENERIC_READ | GENERIC_WRITE), "for reading and writing");
        Check(o.share == 0, "not shared");
        Check(o.disposition == OPEN_EXISTING && o.attributes == FILE_ATTRIBUTE_NORMAL,
              "an existing device, normal attributes");
        Check(!o.security && !o.templateFile, "no security attributes, no template");
    }
    Check(W.serviceCalls == 0, "a device that opens needs no service");
    // It is asked once, touching no port, whether it serves EC RAM requests.
    ExpectCall(VYK_IOCTL_EC_READ, {}, VYK_EC_READ_OUT, "the driver's check at load");
    ExpectDebug({"Attempting to open port driver...\n", "Successfully opened ", name, " driver\n"}, "open");

    W.Clear();
    Check(isOpen() == 1, "IsPortDriverOpen gives 1");
    Check(W.calls.empty(), "IsPortDriverOpen sends no request");

    // The traffic of one EC RAM access as the program writes it, through
    // the byte exports given.
    const auto ecAccess = [&](bool isWrite, uint16_t address, uint16_t value, bool uchar) -> unsigned {
        const auto out = [&](uint16_t port, uint16_t v) {
            if (uchar)
                writePortUchar(port, static_cast<uint8_t>(v));
            else
                outPortByte(port, v);
        };
        out(0x4E, 0x2E), out(0x4F, 0x11), out(0x4E, 0x2F), out(0x4F, address >> 8);
        out(0x4E, 0x2E), out(0x4F, 0x10), out(0x4E, 0x2F), out(0x4F, address & 0xFF);
        out(0x4E, 0x2E), out(0x4F, 0x12), out(0x4E, 0x2F);
        if (isWrite) {
            out(0x4F, value);
            return 0;
        }
        return uchar ? readPortUchar(0x4F) : inPortByte(0x4F);
    };

    // One request per EC byte, byte for byte, whichever byte exports carry
    // the traffic; a value above 255 gives its low 8 bits.
    struct EcCase {
        const char* what;
        bool isWrite, uchar;
        uint16_t address, value;
        DWORD code;
        std::vector<uint8_t> in;
        DWORD outLength;
    };
    const EcCase ecCases[] = {
        {"EcRamWrite(0xD213, 0xA6)", true, false, 0xD213, 0xA6, VYK_IOCTL_EC_WRITE, {0x13, 0xD2, 0xA6}, 0},
        {"EcRamRead(0xD220)", false, false, 0xD220, 0, VYK_IOCTL_EC_READ, {0x20, 0xD2}, 1},
        {"EcRamWrite(0x1060, 0x180)", true, false, 0x1060, 0x180, VYK_IOCTL_EC_WRITE, {0x60, 0x10, 0x80}, 0},
        {"EcRamWrite(0xCCFF, 0x5A) through WritePortUchar", true, true, 0xCCFF, 0x5A, VYK_IOCTL_EC_WRITE,
         {0xFF, 0xCC, 0x5A}, 0},
        {"EcRamRead(0xD247) through ReadPortUchar", false, true, 0xD247, 0, VYK_IOCTL_EC_READ, {0x47, 0xD2}, 1},
    };
    for (const EcCase& c : ecCases) {
        W.Clear();
        W.answer = {0xA5, 0x77, 0x66};
        const unsigned result = ecAccess(c.isWrite, c.address, c.value, c.uchar);
        ExpectCall(c.code, c.in, c.outLength, c.what);
        if (!c.isWrite)
            Check(result == 0xA5, std::string(c.what) + " gives the byte read, upper bits 0: " + std::to_string(result));
        Check(W.debug.empty(), std::string(c.what) + " reports nothing");
    }

    // Traffic off the EC-access path, or to EC RAM outside the mailbox:
    // nothing is sent, one line says what was refused, reads give 0.
    const std::string offPath = " refused: not on the EC RAM access path of the ports 0x4E/0x4F\n";
    struct RefusedCase {
        const char* what;
        std::function<unsigned()> traffic;
        std::vector<std::string> debug;
    };
    const RefusedCase refused[] = {
        {"a byte to port 0x80", [&] { outPortByte(0x80, 0x12); return 0u; }, {"OutPortByte(0x0080, 0x12)" + offPath}},
        {"the logical-device select", [&] { writePortUchar(0x4E, 0x07); writePortUchar(0x4F, 0x05); return 0u; },
         {"WritePortUchar(0x004E, 0x07)" + offPath, "WritePortUchar(0x004F, 0x05)" + offPath}},
        {"a read of the index port", [&] { return unsigned(inPortByte(0x4E)); }, {"InPortByte(0x004E)" + offPath}},
        {"a read of port 0x014F", [&] { return unsigned(readPortUchar(0x14F)); }, {"ReadPortUchar(0x014F)" + offPath}},
        {"EcRamWrite(0x2000, 0x55)", [&] { return ecAccess(true, 0x2000, 0x55, false); },
         {"OutPortByte(0x004F, 0x55) refused: EC RAM address 0x2000 is outside the PD mailbox\n"}},
        {"EcRamRead(0xD248)", [&] { return ecAccess(false, 0xD248, 0, false); },
         {"InPortByte(0x004F) refused: EC RAM address 0xD248 is outside the PD mailbox\n"}},
    };
    for (const RefusedCase& c : refused) {
        W.Clear();
        W.answer = {0xA5};
        Check(c.traffic() == 0, std::string(c.what) + ": gives 0");
        Check(W.calls.empty(), std::string(c.what) + ": no request");
        ExpectDebug(c.debug, c.what);
    }

    // A request that fails: InPortByte says so and gives 0, never the
    // address still in its buffer; ReadPortUchar gives 0 silently.
    W.Clear();
    W.failWith = ERROR_GEN_FAILURE;
    Check(ecAccess(false, 0xD213, 0, false) == 0, "a failed InPortByte gives 0");
    ExpectDebug({"Error 31\n"}, "a failed InPortByte");
    W.Clear();
    W.failWith = ERROR_GEN_FAILURE;
    Check(ecAccess(false, 0xD213, 0, true) == 0, "a failed ReadPortUchar gives 0");
    Check(W.debug.empty(), "a failed ReadPortUchar reports nothing");

    W.Clear();
    lib.Detach();
    Check(W.deviceCloses == 1, "the unload closes the device once");
    ExpectDebug({"Closing port driver...\n"}, "unload");

    // ---- an older driver still running, left by an earlier build ----
    // Every EC RAM request would fail: writes vanish, reads give 0 and the
    // mailbox looks idle. The device is closed again and the program told
    // there is no port access, never left to flash into nothing.
    W.Clear();
    W.olderDriver = true;
    Check(lib.Attach() != FALSE, "the load succeeds beside an older driver");
    Check(W.opens.size() == 1 && W.serviceCalls == 0, "an older driver: nothing installed or started over it");
    Check(W.deviceCloses == 1, "an older driver: its device is closed again");
    ExpectDebug({"Attempting to open port driver...\n",
                 std::string("The running ") + name +
                     " driver does not serve EC RAM requests (an older version): stop and delete its service (sc stop " +
                     name + ", sc delete " + name + ") so that this library installs its own\n"},
                "an older driver");
    W.Clear();
    W.olderDriver = true;
    Check(isOpen() == 0, "an older driver: IsPortDriverOpen gives 0");
    ecAccess(true, 0xD213, 0xA1, false);
    Check(ecAccess(false, 0xD213, 0, true) == 0, "an older driver: ReadPortUchar gives 0");
    Check(W.calls.empty(), "an older driver: no request is sent to it");
    W.Clear();
    lib.Detach();
    Check(W.deviceCloses == 0 && W.debug.empty(), "an older driver: the unload closes nothing");
    W.olderDriver = false;

    // ---- no administrator rights, nothing installed ----
    W.Clear();
    W.deviceOpens = false;
    Check(lib.Attach() != FALSE, "the load succeeds without the driver");
    Check(!W.opens.empty() && W.opens.front().path == devicePath, "the device is tried first");
    Check(W.opens.size() == 2 && W.opens.back().path.find(std::string("\\Drivers\\") + name + ".sys") != std::string::npos &&
              W.opens.back().disposition == CREATE_ALWAYS,
          "the driver file is tried, and nothing else opened");
    ExpectDebug({"Attempting to open port driver...\n", std::string("Unable to open ") + name + " driver. Error code 1.\n"},
                "no rights");
    W.Clear();
    Check(isOpen() == 0, "IsPortDriverOpen gives 0");
    ecAccess(true, 0xD213, 0xA1, false);
    Check(ecAccess(false, 0xD213, 0, false) == 0, "InPortByte gives 0");
    Check(ecAccess(false, 0xD213, 0, true) == 0, "ReadPortUchar gives 0");
    Check(W.calls.empty(), "no request reaches a device that is not open");
    ExpectDebug({"Error 6\n"}, "InPortByte on a closed device");
    W.Clear();
    lib.Detach();
    Check(W.deviceCloses == 0 && W.debug.empty(), "the unload closes nothing");

    // ---- administrator rights, nothing installed: the driver file ----
    char systemDir[MAX_PATH];
    GetSystemDirectoryA(systemDir, MAX_PATH);
    const std::string driverFile = std::string(systemDir) + "\\Drivers\\" + name + ".sys";
    HRSRC resource = FindResourceA(lib.base, MAKEINTRESOURCEA(Wow64() ? VYK_RESOURCE_DRIVER_64 : VYK_RESOURCE_DRIVER_32),
                                   "bin");
    const DWORD size = resource ? SizeofResource(lib.base, resource) : 0;
    Check(size > 1000, "the driver image among the library's resources");
    const std::string unableToOpen = std::string("Unable to open ") + name + " driver. Error code 1.\n";
    struct WriteCase {
        const char* what;
        DWORD limit, error, closeError;
    };
    // A close that fails after a whole write (the last bytes may never have
    // reached the disk) leaves no file either.
    for (const WriteCase& c :
         {WriteCase{"written whole", size, 0, 0}, WriteCase{"written short", 1000, 0, 0},
          WriteCase{"write failing", 0, ERROR_DISK_FULL, 0}, WriteCase{"close failing", size, 0, ERROR_DISK_FULL}}) {
        const bool whole = c.limit == size && !c.closeError;
        W.Clear();
        W.admin = true;
        W.writeLimit = c.limit;
        W.writeError = c.error;
        W.closeError = c.closeError;
        lib.Attach();
        const std::string what = std::string("driver file ") + c.what;
        Check(W.fileBytes == (c.error ? 0 : c.limit), what + ": " + std::to_string(W.fileBytes) + " bytes");
        // A file cut short is never left for Windows to load.
        Check(W.deletes == (whole ? std::vector<std::string>{} : std::vector<std::string>{driverFile}),
              what + (whole ? ": kept" : ": removed"));
        Check(W.servicePath == "\\??\\" + driverFile, what + ": the service names the file written, " + W.servicePath);
        std::vector<std::string> lines = {"Attempting to open port driver...\n"};
        if (!whole)
            lines.push_back("Unable to write " + driverFile + ": " + std::to_string(c.error ? 0 : c.limit) + " of " +
                            std::to_string(size) + " bytes written" +
                            (c.error ? ", error " + std::to_string(c.error) : "") +
                            (c.closeError ? ", closing failed with error " + std::to_string(c.closeError) : "") +
                            "\n");
        lines.push_back(unableToOpen);
        ExpectDebug(lines, what);
        lib.Detach();
    }
    W.closeError = 0;
    return Failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: portlib_request_test <vykport32.dll>\n");
        return 2;
    }
    return Run(vyk::winetest::WindowsPath(argv[1]));
}
