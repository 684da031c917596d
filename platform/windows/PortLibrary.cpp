#include "platform/windows/PortLibrary.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include <windows.h>

#include "platform/DriverStartText.h"
#include "platform/Failure.h"
#include "platform/windows/PortLibraryBinding.h"

namespace vyk::platform {

namespace fs = std::filesystem;

namespace {

const char* const LibraryNames[] = {"io.dll", "vykport32.dll"};

// The name as the A functions of Windows read it.
std::wstring Widened(const std::string& name)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(), n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

fs::path ExecutableFolder()
{
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    if (n == 0 || n >= std::size(buffer))
        return {};
    return fs::path(buffer).parent_path();
}

// The library tried to start its driver while it loaded and says why it
// failed only on the debugger output; one more start of the service gives
// the reason here. Empty when the service manager tells nothing.
std::string DriverNotOpenReason(void* is64)
{
    const std::string name = is64 && CallWithoutArguments(is64) ? "vykportx64" : "vykport32";
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return GetLastError() == ERROR_ACCESS_DENIED ? DriverStartProblem(name, ERROR_ACCESS_DENIED) : std::string();
    DWORD error = 0;
    if (SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_START)) {
        if (!StartServiceA(service, 0, nullptr))
            error = GetLastError();
        CloseServiceHandle(service);
    } else {
        error = GetLastError();
    }
    CloseServiceHandle(manager);
    // Started just now: the library may open it at its next load.
    if (error == 0)
        return {};
    return DriverStartProblem(name, error);
}

} // namespace

Win32PortLibrary::Win32PortLibrary(Names names) : names_(names) {}
Win32PortLibrary::~Win32PortLibrary() = default;

bool Win32PortLibrary::FileExists(const std::string& name)
{
    DWORD attributes = GetFileAttributesA(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<size_t> Win32PortLibrary::WriteNewFile(const std::string& name, std::span<const uint8_t> bytes)
{
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return std::nullopt;
    size_t written = 0;
    if (std::fseek(f, 0, SEEK_SET) == 0 && !bytes.empty())
        written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    // Buffered bytes reach the disk only at the close: a failed close is a
    // failed write.
    if (std::fclose(f) != 0)
        written = 0;
    return written;
}

void Win32PortLibrary::RemoveFile(const std::string& name)
{
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(name.c_str());
}

void Win32PortLibrary::SetHidden(const std::string& name)
{
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_HIDDEN);
}

std::string Win32PortLibrary::FullPath(const std::string& name)
{
    DWORD n = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return {};
    std::string full(n, '\0');
    n = GetFullPathNameA(name.c_str(), n, full.data(), nullptr);
    full.resize(n);
    return full;
}

PortLibraryPlatform::Library Win32PortLibrary::LoadLibraryFullPath(const std::string& fullPath)
{
    const std::wstring wide = names_ == Names::Ansi ? Widened(fullPath) : fs::path(fullPath).wstring();
    return LoadByFullPath(wide, lastLoadError_);
}

PortLibraryPlatform::Entry Win32PortLibrary::LookUp(Library library, const char* name)
{
    return EntryPoint(library, name);
}

int32_t Win32PortLibrary::CallIsPortDriverOpen(Entry entry)
{
    return CallWithoutArguments(entry);
}

IoPort* Win32PortLibrary::BindIoPort(Entry outPortByte, Entry inPortByte)
{
    bound_.push_back(std::make_unique<EntryIoPort>(outPortByte, inPortByte));
    return bound_.back().get();
}

std::vector<std::string> LibraryIoPort::Candidates(const std::string& explicitPath)
{
    if (!explicitPath.empty()) {
        std::error_code ec;
        const fs::path full = fs::absolute(explicitPath, ec);
        return {ec ? explicitPath : full.string()};
    }
    std::vector<std::string> out;
    const fs::path exeDir = ExecutableFolder();
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    for (const fs::path& dir : {exeDir, cwd}) {
        if (dir.empty())
            continue;
        for (const char* name : LibraryNames) {
            const std::string p = (dir / name).string();
            bool seen = false;
            for (const auto& c : out)
                seen = seen || c == p;
            if (!seen)
                out.push_back(p);
        }
    }
    return out;
}

std::string LibraryIoPort::FindLibrary(const std::string& explicitPath)
{
    for (const auto& path : Candidates(explicitPath)) {
        std::error_code ec;
        if (fs::is_regular_file(path, ec))
            return path;
    }
    return {};
}

LibraryIoPort::~LibraryIoPort()
{
    // The driver handle belongs to the library; it closes at process end.
}

std::unique_ptr<LibraryIoPort> LibraryIoPort::Open(const std::string& explicitPath, std::string& loadedPath)
{
    const std::string path = FindLibrary(explicitPath);
    if (path.empty()) {
        std::string error = "no port library: none of";
        for (const auto& c : Candidates(explicitPath))
            error += " " + c;
        throw NoPortAccess(error + " exists (start VYK_UU once in that folder to write io.dll, or pass --port-library PATH)");
    }
    // Full path and no search: a library of the same name elsewhere must never be picked up.
    std::unique_ptr<LibraryIoPort> ports(new LibraryIoPort());
    PortAccess access;
    switch (BindPortLibrary(ports->library_, path, access)) {
    case PortAccessOutcome::Ready:
        break;
    case PortAccessOutcome::NotALibrary:
    case PortAccessOutcome::NoLibraryFile:
        throw NoPortAccess("port library " + path + " does not load (Windows error " +
                           std::to_string(ports->library_.LastLoadError()) + ")");
    case PortAccessOutcome::NotOurLibrary:
    case PortAccessOutcome::NotBound:
        throw NoPortAccess("port library " + path + " lacks OutPortByte, InPortByte or IsPortDriverOpen");
    case PortAccessOutcome::DriverNotOpen: {
        const std::string reason = DriverNotOpenReason(access.Is64BitWindows);
        throw NoPortAccess("port library " + path + " loaded but its driver is not open: " +
                           (reason.empty() ? "run as administrator; the driver must be installed and signed" : reason));
    }
    }
    ports->io_ = access.Io;
    loadedPath = path;
    return ports;
}

void LibraryIoPort::OutPortByte(uint16_t port, uint16_t data)
{
    io_->OutPortByte(port, data);
}

uint16_t LibraryIoPort::InPortByte(uint16_t port)
{
    return io_->InPortByte(port);
}

} // namespace vyk::platform
