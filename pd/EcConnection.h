#pragma once
#include <exception>

#include "hw/EcRam.h"
#include "hw/IoPort.h"
#include "pd/Mailbox.h"
#include "pd/PdPort.h"
#include "pd/PortSelection.h"

namespace vyk::pd {

// One front end's hold on the EC, for a run without the window: the EC's
// RAM over the given I/O ports, its mailbox, and what is selected on it.
struct EcConnection {
    EcConnection(IoPort& io, PdPort port) : ec(&io), mailbox(ec)
    {
        // What the window does at start and at its first monitor tick.
        mailbox.EcSetup();
        mailbox.SetPresence(true);
        ForceSelection(port);
    }
    ~EcConnection()
    {
        // A destructor must not throw: a simulator folder that has become
        // unwritable only loses the presence flag.
        try {
            mailbox.SetPresence(false);
        } catch (const std::exception&) {
        }
    }
    EcConnection(const EcConnection&) = delete;
    EcConnection& operator=(const EcConnection&) = delete;

    // The EC may have either port selected (another run, the window): make
    // the next sequence send the selection of the wanted port itself.
    void ForceSelection(PdPort port) { ports.Port1Selected = port != PdPort::Port1; }

    EcRam ec;
    Mailbox mailbox;
    PortSelection ports;
};

} // namespace vyk::pd
