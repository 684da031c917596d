#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "hw/PortIo.h"

namespace vyk {

// What deploying and binding the port library needs from the platform. The
// Win32 face lives with the application; tests use a fake.
class PortLibraryPlatform {
public:
    using Library = void*;
    using Entry = void*;

    virtual ~PortLibraryPlatform() = default;

    // A regular file of that name in the current folder; hidden counts, a
    // directory does not.
    virtual bool FileExists(const std::string& name) = 0;
    // Creates or truncates the file and writes the bytes. nullopt: it could
    // not be created. Otherwise the bytes that reached the file, counting
    // none when the close failed.
    virtual std::optional<size_t> WriteNewFile(const std::string& name, std::span<const uint8_t> bytes) = 0;
    virtual void RemoveFile(const std::string& name) = 0;
    // The hidden attribute alone.
    virtual void SetHidden(const std::string& name) = 0;
    // The name resolved against the current folder.
    virtual std::string FullPath(const std::string& name) = 0;
    // Loads exactly the file named by a full path, never through a search
    // order. nullptr when it is not a loadable library.
    virtual Library LoadLibraryFullPath(const std::string& fullPath) = 0;
    virtual Entry LookUp(Library library, const char* name) = 0;
    // Calls the library's IsPortDriverOpen.
    virtual int32_t CallIsPortDriverOpen(Entry entry) = 0;
    // The port operations through the two bound entry points; the platform
    // owns the object for the rest of the process.
    virtual PortIo* BindPortIo(Entry outPortByte, Entry inPortByte) = 0;
};

// Where the outcome is shown: the status bar of the window.
class PortAccessReport {
public:
    virtual ~PortAccessReport() = default;
    virtual void ShowPanelText(int panel, std::string_view text) = 0;
    // Refreshes DateText and TimeText and shows them in panels 0 and 1.
    virtual void RefreshClock() = 0;
};

struct PortAccess {
    bool PortReady = false;
    bool LibraryExtracted = false;
    PortIo* Io = nullptr;   // non-null exactly when PortReady
    PortLibraryPlatform::Library Library = nullptr;
    PortLibraryPlatform::Entry OutPortByte = nullptr;
    PortLibraryPlatform::Entry InPortByte = nullptr;
    PortLibraryPlatform::Entry IsPortDriverOpen = nullptr;
    PortLibraryPlatform::Entry Is64BitWindows = nullptr;   // kept, never called
};

inline constexpr const char* PortLibraryFileName = "io.dll";

// Writes the library out as the hidden "io.dll" when that file is missing,
// loads it from the current folder, binds its entry points and asks whether
// its driver is open. Runs once, at window creation.
PortAccess InitPortAccess(PortLibraryPlatform& platform, std::span<const uint8_t> image, PortAccessReport& report);

} // namespace vyk
