#pragma once
#include <string_view>

#include "hw/PortAccessInit.h"

namespace vyk::app {

// Where the port library's outcome is shown: the status bar of the window.
class PortAccessReport {
public:
    virtual ~PortAccessReport() = default;
    virtual void ShowPanelText(int panel, std::string_view text) = 0;
    // Refreshes DateText and TimeText and shows them in panels 0 and 1.
    virtual void RefreshClock() = 0;
};

// The status bar's texts for how the port library ended ("DLL NG",
// "IO NG2", "IO NG3", or the library's name and the ports), in the order
// the window has always shown them.
void ShowPortStatus(const PortAccess& access, PortAccessReport& report);

} // namespace vyk::app
