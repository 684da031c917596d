#include "platform/windows/PortLibrary.h"

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
std::string DriverNotOpenReason(void* library)
{
    void* is64 = EntryPoint(library, "Is64BitWindows");
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

std::vector<std::string> WinPortLibrary::Candidates(const std::string& explicitPath)
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

std::string WinPortLibrary::FindLibrary(const std::string& explicitPath)
{
    for (const auto& path : Candidates(explicitPath)) {
        std::error_code ec;
        if (fs::is_regular_file(path, ec))
            return path;
    }
    return {};
}

struct WinPortLibrary::Impl {
    explicit Impl(void* out, void* in) : io(out, in) {}
    EntryPortIo io;
};

WinPortLibrary::WinPortLibrary(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WinPortLibrary::~WinPortLibrary()
{
    // The driver handle belongs to the library; it closes at process end.
}

std::unique_ptr<WinPortLibrary> WinPortLibrary::Open(const std::string& explicitPath, std::string& loadedPath)
{
    const std::string path = FindLibrary(explicitPath);
    if (path.empty()) {
        std::string error = "no port library: none of";
        for (const auto& c : Candidates(explicitPath))
            error += " " + c;
        throw NoPortAccess(error + " exists (start VYK_UU once in that folder to write io.dll, or pass --port-library PATH)");
    }
    // Full path and no search: a library of the same name elsewhere must never be picked up.
    unsigned long loadError = 0;
    void* library = LoadByFullPath(fs::path(path).wstring(), loadError);
    if (!library)
        throw NoPortAccess("port library " + path + " does not load (Windows error " + std::to_string(loadError) + ")");
    void* out = EntryPoint(library, "OutPortByte");
    void* in = EntryPoint(library, "InPortByte");
    void* isOpen = EntryPoint(library, "IsPortDriverOpen");
    if (!out || !in || !isOpen)
        throw NoPortAccess("port library " + path + " lacks OutPortByte, InPortByte or IsPortDriverOpen");
    if (CallWithoutArguments(isOpen) == 0) {
        const std::string reason = DriverNotOpenReason(library);
        throw NoPortAccess("port library " + path + " loaded but its driver is not open: " +
                           (reason.empty() ? "run as administrator; the driver must be installed and signed" : reason));
    }
    loadedPath = path;
    return std::unique_ptr<WinPortLibrary>(new WinPortLibrary(std::make_unique<Impl>(out, in)));
}

void WinPortLibrary::OutPortByte(uint16_t port, uint16_t data)
{
    impl_->io.OutPortByte(port, data);
}

uint16_t WinPortLibrary::InPortByte(uint16_t port)
{
    return impl_->io.InPortByte(port);
}

} // namespace vyk::platform
