#pragma once
#include <memory>
#include <string>
#include <vector>

#include "hw/PortAccessInit.h"
#include "hw/IoPort.h"

namespace vyk::platform {

// Files, library loading and entry-point calls of Windows, for the one way
// to a port library (BindPortLibrary) that the window and vykuu.exe share.
class Win32PortLibrary final : public PortLibraryPlatform {
public:
    // How a name becomes the wide name Windows loads: the window's names are
    // read as its A functions read them, vykuu's as std::filesystem made them.
    enum class Names { Ansi, Filesystem };

    explicit Win32PortLibrary(Names names = Names::Ansi);
    ~Win32PortLibrary() override;

    bool FileExists(const std::string& name) override;
    std::optional<size_t> WriteNewFile(const std::string& name, std::span<const uint8_t> bytes) override;
    void RemoveFile(const std::string& name) override;
    void SetHidden(const std::string& name) override;
    std::string FullPath(const std::string& name) override;
    Library LoadLibraryFullPath(const std::string& fullPath) override;
    Entry LookUp(Library library, const char* name) override;
    int32_t CallIsPortDriverOpen(Entry entry) override;
    IoPort* BindIoPort(Entry outPortByte, Entry inPortByte) override;

    // The Windows error of the last load that failed.
    unsigned long LastLoadError() const { return lastLoadError_; }

private:
    Names names_;
    unsigned long lastLoadError_ = 0;
    std::vector<std::unique_ptr<IoPort>> bound_;
};

// vykuu.exe's ports: the program's port library ("io.dll" or
// "vykport32.dll"), loaded by full path only, never through the DLL search
// order.
class LibraryIoPort final : public IoPort {
public:
    // Full paths tried in order: the given one alone when not empty, else
    // io.dll and vykport32.dll next to the executable, then in the current
    // folder.
    static std::vector<std::string> Candidates(const std::string& explicitPath);
    // The first candidate that exists, or empty.
    static std::string FindLibrary(const std::string& explicitPath);

    // Throws NoPortAccess, with a clear message, when no library loads, an
    // entry point is missing or its driver is not open.
    static std::unique_ptr<LibraryIoPort> Open(const std::string& explicitPath, std::string& loadedPath);
    ~LibraryIoPort() override;

    void OutPortByte(uint16_t port, uint16_t data) override;
    uint16_t InPortByte(uint16_t port) override;

private:
    LibraryIoPort() = default;
    Win32PortLibrary library_{Win32PortLibrary::Names::Filesystem};
    IoPort* io_ = nullptr;   // owned by library_
};

} // namespace vyk::platform
