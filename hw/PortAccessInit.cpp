#include "hw/PortAccessInit.h"

namespace vyk {

PortAccessOutcome BindPortLibrary(PortLibraryPlatform& platform, const std::string& fullPath, PortAccess& access)
{
    access.Library = platform.LoadLibraryFullPath(fullPath);
    if (!access.Library)
        return PortAccessOutcome::NotALibrary;

    access.OutPortByte = platform.LookUp(access.Library, "OutPortByte");
    access.InPortByte = platform.LookUp(access.Library, "InPortByte");
    access.IsPortDriverOpen = platform.LookUp(access.Library, "IsPortDriverOpen");
    access.Is64BitWindows = platform.LookUp(access.Library, "Is64BitWindows");
    // Not our library: nothing of it may ever be called.
    if (!access.OutPortByte || !access.InPortByte || !access.IsPortDriverOpen)
        return PortAccessOutcome::NotOurLibrary;

    if (platform.CallIsPortDriverOpen(access.IsPortDriverOpen) == 0)
        return PortAccessOutcome::DriverNotOpen;

    access.Io = platform.BindIoPort(access.OutPortByte, access.InPortByte);
    access.PortReady = access.Io != nullptr;
    return access.PortReady ? PortAccessOutcome::Ready : PortAccessOutcome::NotBound;
}

PortAccess InitPortAccess(PortLibraryPlatform& platform, std::span<const uint8_t> image)
{
    PortAccess access;
    const std::string name = PortLibraryFileName;

    // An existing file is never examined or rewritten, whatever it holds.
    if (!platform.FileExists(name)) {
        // A program built without its library has nothing to deploy; an
        // empty "io.dll" would only be trusted by later starts.
        if (image.empty())
            return access;
        std::optional<size_t> written = platform.WriteNewFile(name, image);
        if (!written)
            return access;
        if (*written != image.size()) {
            // A truncated library left behind would be trusted by every later
            // start, which never rewrites an existing file.
            platform.RemoveFile(name);
            return access;
        }
        access.LibraryExtracted = true;
        platform.SetHidden(name);
    }

    // By full path only: a library of that name planted anywhere along the
    // search order must never be the one loaded.
    access.Outcome = BindPortLibrary(platform, platform.FullPath(name), access);
    return access;
}

} // namespace vyk
