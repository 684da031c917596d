#include "pd/PortSelection.h"

namespace vyk::pd {

bool PortSelectStep::Ready(Mailbox& mailbox, PortSelection& ports, SequenceView& view)
{
    if (sent_) {
        // Let the EC finish the selection before anything of ours reaches it.
        if (mailbox.IsBusy())
            return false;
        sent_ = false;
        return true;
    }
    const bool port1Wanted = view.Port1Wanted();
    if (ports.SelectionSent && ports.Port1Selected == port1Wanted)
        return true;
    // A selection written while the EC is busy would land in the middle of
    // whatever it is doing.
    if (mailbox.IsBusy())
        return false;
    mailbox.SelectPort(port1Wanted ? 1 : 2);
    ports.Port1Selected = port1Wanted;
    ports.SelectionSent = true;
    sent_ = true;
    return false;
}

} // namespace vyk::pd
