#pragma once
#include "pd/Mailbox.h"

namespace vyk::pd {

// Shared by the monitor and the two sequences: the monitor never selects
// while SequenceRunning; a sequence whose wanted port (the front end's)
// disagrees with Port1Selected sends the selection itself, with the EC idle,
// before its first command.
struct PortSelection {
    bool Port1Selected = false;
    // Port1Selected false also means "nothing selected yet": the EC then
    // works on whatever port it came up with, so a sequence must not take
    // false for a selection of port 2.
    bool SelectionSent = false;
    bool SequenceRunning = false;
};

// A sequence's Init step calls this once its busy test has read idle. When
// the wanted port is not the one selected it sends the selection and returns
// true: the sequence then issues nothing more in this tick, and the next
// tick's busy test waits for the EC to finish the selection before CmdInit.
bool SendSelectionIfDue(Mailbox& mailbox, PortSelection& ports, PdPort wanted);

} // namespace vyk::pd
