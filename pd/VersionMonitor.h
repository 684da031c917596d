#pragma once
#include <cstdint>
#include <string>

#include "pd/Mailbox.h"
#include "pd/PortSelection.h"
#include "pd/SequenceView.h"

namespace vyk::pd {

inline constexpr uint32_t Port1LabelColour = 0x008000;   // green
inline constexpr uint32_t Port2LabelColour = 0xFF0000;   // blue in 0x00BBGGRR

// "01 02 03 04 05 06 07 08": the eight version bytes.
std::string VersionBytesText(const uint8_t* version8);
// "PORT1 FW2 VER : 01 02 03 04 05 06 07 08 " (40 characters, trailing blank).
std::string VersionLabelText(int port, const uint8_t* version8);

// The once-a-second heartbeat: clock, host presence, port selection, version label.
class VersionMonitor {
public:
    VersionMonitor(Mailbox& mailbox, PortSelection& ports, SequenceView& view);
    // One monitor tick.
    void Tick();

    // The port and bytes of the last version shown; port 0 until one is.
    int ShownPort() const { return shownPort_; }
    const uint8_t* ShownVersion() const { return shownVersion_; }

private:
    Mailbox& mailbox_;
    PortSelection& ports_;
    SequenceView& view_;
    int shownPort_ = 0;
    uint8_t shownVersion_[VersionSize] = {};
};

} // namespace vyk::pd
