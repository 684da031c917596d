#include "hw/PortAccessInit.h"

#include <cstdio>

#include "hw/EcRam.h"

namespace vyk {

namespace {

std::string PortText(unsigned port)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", port);
    return text;
}

} // namespace

PortAccess InitPortAccess(PortLibraryPlatform& platform, std::span<const uint8_t> image, PortAccessReport& report)
{
    PortAccess access;
    const std::string name = PortLibraryFileName;

    // An existing file is never examined or rewritten, whatever it holds.
    if (!platform.FileExists(name)) {
        if (image.empty()) {
            // A program built without its library has nothing to deploy; an
            // empty "io.dll" would only be trusted by later starts.
            report.ShowPanelText(2, "DLL NG");
            return access;
        }
        std::optional<size_t> written = platform.WriteNewFile(name, image);
        if (!written) {
            report.ShowPanelText(2, "DLL NG");
            return access;
        }
        if (*written != image.size()) {
            // A truncated library left behind would be trusted by every later
            // start, which never rewrites an existing file.
            platform.RemoveFile(name);
            report.ShowPanelText(2, "DLL NG");
            return access;
        }
        access.LibraryExtracted = true;
        platform.SetHidden(name);
    }

    // By full path only: a library of that name planted anywhere along the
    // search order must never be the one loaded.
    access.Library = platform.LoadLibraryFullPath(platform.FullPath(name));
    if (!access.Library) {
        report.ShowPanelText(2, "IO NG2");
        report.RefreshClock();
        return access;
    }

    access.OutPortByte = platform.LookUp(access.Library, "OutPortByte");
    access.InPortByte = platform.LookUp(access.Library, "InPortByte");
    access.IsPortDriverOpen = platform.LookUp(access.Library, "IsPortDriverOpen");
    access.Is64BitWindows = platform.LookUp(access.Library, "Is64BitWindows");
    if (!access.OutPortByte || !access.InPortByte || !access.IsPortDriverOpen) {
        // Not our library: nothing of it may ever be called.
        report.ShowPanelText(2, "IO NG2");
        report.RefreshClock();
        return access;
    }

    if (platform.CallIsPortDriverOpen(access.IsPortDriverOpen) == 0) {
        report.ShowPanelText(2, "IO NG3");
        report.RefreshClock();
        return access;
    }

    access.Io = platform.BindPortIo(access.OutPortByte, access.InPortByte);
    access.PortReady = access.Io != nullptr;
    if (!access.PortReady) {
        report.ShowPanelText(2, "IO NG2");
        report.RefreshClock();
        return access;
    }

    const char* messageText = access.LibraryExtracted ? "io.dll" : "IO.DLL";
    const char* openMessage = access.LibraryExtracted ? "Open io.dll succeeded " : "Open IO.DLL succeeded ";
    report.ShowPanelText(2, messageText);
    report.ShowPanelText(6, openMessage);
    report.ShowPanelText(5, "VYK LPC EC");   // the interface label
    report.ShowPanelText(3, PortText(EcRam::SioIndexPort));
    report.ShowPanelText(4, PortText(EcRam::SioDataPort()));
    report.RefreshClock();
    return access;
}

} // namespace vyk
