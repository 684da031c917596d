#include "pd/PortSelection.h"

namespace vyk::pd {

bool SendSelectionIfDue(Mailbox& mailbox, PortSelection& ports, PdPort wanted)
{
    const bool port1Wanted = wanted == PdPort::Port1;
    if (ports.SelectionSent && ports.Port1Selected == port1Wanted)
        return false;
    mailbox.SelectPort(wanted);
    ports.Port1Selected = port1Wanted;
    ports.SelectionSent = true;
    return true;
}

} // namespace vyk::pd
