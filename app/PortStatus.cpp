#include "app/PortStatus.h"

#include <cstdio>
#include <string>

#include "hw/EcRam.h"

namespace vyk::app {

namespace {

std::string PortText(unsigned port)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", port);
    return text;
}

} // namespace

void ShowPortStatus(const PortAccess& access, PortAccessReport& report)
{
    switch (access.Outcome) {
    case PortAccessOutcome::NoLibraryFile:
        // Nothing was loaded: the clock is left as it is.
        report.ShowPanelText(2, "DLL NG");
        return;
    case PortAccessOutcome::NotALibrary:
    case PortAccessOutcome::NotOurLibrary:
    case PortAccessOutcome::NotBound:
        report.ShowPanelText(2, "IO NG2");
        report.RefreshClock();
        return;
    case PortAccessOutcome::DriverNotOpen:
        report.ShowPanelText(2, "IO NG3");
        report.RefreshClock();
        return;
    case PortAccessOutcome::Ready:
        break;
    }
    const char* messageText = access.LibraryExtracted ? "io.dll" : "IO.DLL";
    const char* openMessage = access.LibraryExtracted ? "Open io.dll succeeded " : "Open IO.DLL succeeded ";
    report.ShowPanelText(2, messageText);
    report.ShowPanelText(6, openMessage);
    report.ShowPanelText(5, "VYK LPC EC");   // the interface label
    report.ShowPanelText(3, PortText(EcRam::SioIndexPort));
    report.ShowPanelText(4, PortText(EcRam::SioDataPort()));
    report.RefreshClock();
}

} // namespace vyk::app
