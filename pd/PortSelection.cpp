#include "pd/PortSelection.h"

namespace vyk::pd {

bool SendSelectionIfDue(Mailbox& mailbox, PortSelection& ports, bool port1Wanted)
{
    if (ports.SelectionSent && ports.Port1Selected == port1Wanted)
        return false;
    mailbox.SelectPort(port1Wanted ? 1 : 2);
    ports.Port1Selected = port1Wanted;
    ports.SelectionSent = true;
    return true;
}

} // namespace vyk::pd
