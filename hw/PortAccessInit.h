#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "hw/IoPort.h"

namespace vyk {

// What deploying and binding the port library needs from the platform. The
// Windows side lives in platform/windows; tests use a fake.
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
    virtual IoPort* BindIoPort(Entry outPortByte, Entry inPortByte) = 0;
};

// How deploying and binding the port library ended.
enum class PortAccessOutcome {
    NoLibraryFile,     // no file to load: none was there and none could be written whole
    NotALibrary,       // the file does not load
    NotOurLibrary,     // it lacks OutPortByte, InPortByte or IsPortDriverOpen; nothing of it is called
    DriverNotOpen,     // its IsPortDriverOpen said no
    NotBound,          // the platform gave no port operations
    Ready,
};

struct PortAccess {
    PortAccessOutcome Outcome = PortAccessOutcome::NoLibraryFile;
    bool PortReady = false;   // Outcome is Ready
    bool LibraryExtracted = false;
    IoPort* Io = nullptr;   // non-null exactly when PortReady
    PortLibraryPlatform::Library Library = nullptr;
    PortLibraryPlatform::Entry OutPortByte = nullptr;
    PortLibraryPlatform::Entry InPortByte = nullptr;
    PortLibraryPlatform::Entry IsPortDriverOpen = nullptr;
    PortLibraryPlatform::Entry Is64BitWindows = nullptr;   // kept, never called
};

inline constexpr const char* PortLibraryFileName = "io.dll";

// Loads the library a full path names, looks up its entry points, asks
// whether its driver is open and binds the port operations: the one way
// both the window and vykuu.exe take to the ports. Fills `access` as far as
// it got.
PortAccessOutcome BindPortLibrary(PortLibraryPlatform& platform, const std::string& fullPath, PortAccess& access);

// Writes the library out as the hidden "io.dll" when that file is missing,
// then binds it from the current folder. Runs once, at window creation.
PortAccess InitPortAccess(PortLibraryPlatform& platform, std::span<const uint8_t> image);

} // namespace vyk
