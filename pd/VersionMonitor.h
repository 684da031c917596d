#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "pd/Mailbox.h"
#include "pd/PortSelection.h"
#include "pd/FrontEnd.h"

namespace vyk::pd {

// "01 02 03 04 05 06 07 08": the eight version bytes.
std::string VersionBytesText(const uint8_t* version8);
// "PORT1 FW2 VER : 01 02 03 04 05 06 07 08 " (40 characters, trailing blank).
std::string VersionLabelText(PdPort port, const uint8_t* version8);

// The once-a-second heartbeat: clock, host presence, port selection, version.
class VersionMonitor {
public:
    VersionMonitor(Mailbox& mailbox, PortSelection& ports, FrontEnd& front);
    // One monitor tick.
    void Tick();

    // The port and bytes of the last version read; none until one is.
    std::optional<PdPort> ShownPort() const { return shownPort_; }
    const uint8_t* ShownVersion() const { return shownVersion_; }

private:
    Mailbox& mailbox_;
    PortSelection& ports_;
    FrontEnd& front_;
    std::optional<PdPort> shownPort_;
    uint8_t shownVersion_[VersionSize] = {};
};

} // namespace vyk::pd
