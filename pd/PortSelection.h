#pragma once
#include <chrono>

#include "pd/Mailbox.h"
#include "pd/SequenceView.h"

namespace vyk::pd {

// Shared by the monitor and the two sequences: the monitor never selects
// while SequenceRunning; a sequence whose wanted port (view.Port1Wanted())
// disagrees with Port1Selected sends the selection itself first, with the EC
// idle.
struct PortSelection {
    bool Port1Selected = false;
    // Port1Selected false also means "nothing selected yet": the EC then
    // works on whatever port it came up with, so a sequence must not take
    // false for a selection of port 2.
    bool SelectionSent = false;
    bool SequenceRunning = false;
};

// A sequence's first step calls this on every tick until it returns true.
// When the wanted port is not the one selected it waits (one busy test per
// tick) for the EC to be idle, sends the selection, and then waits for the
// EC to finish it, so that the sequence's own commands go to the port the
// radio buttons show.
class PortSelectStep {
public:
    // True when the sequence may go on with its first step in this tick.
    bool Ready(Mailbox& mailbox, PortSelection& ports, SequenceView& view);
    void Reset() { sent_ = false; }

private:
    bool sent_ = false;
};

} // namespace vyk::pd
