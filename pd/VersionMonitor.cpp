#include "pd/VersionMonitor.h"

#include "pd/HexText.h"

namespace vyk::pd {

std::string VersionBytesText(const uint8_t* version8)
{
    std::string text;
    for (int i = 0; i < VersionSize; ++i) {
        if (i > 0)
            text += ' ';
        text += HexDigits(version8[i], 2);
    }
    return text;
}

std::string VersionLabelText(PdPort port, const uint8_t* version8)
{
    return (port == PdPort::Port1 ? "PORT1 FW2 VER : " : "PORT2 FW2 VER : ") + VersionBytesText(version8) + ' ';
}

VersionMonitor::VersionMonitor(Mailbox& mailbox, PortSelection& ports, FrontEnd& front)
    : mailbox_(mailbox), ports_(ports), front_(front)
{
}

void VersionMonitor::Tick()
{
    front_.RefreshClock();
    mailbox_.SetPresence(true);

    const PdPort wanted = front_.ChosenPort();
    const bool port1Wanted = wanted == PdPort::Port1;
    if (ports_.Port1Selected != port1Wanted) {
        // A running sequence sends its own selection at its start; one sent
        // from here could fall between its commands.
        if (ports_.SequenceRunning)
            return;
        mailbox_.SelectPort(wanted);
        ports_.Port1Selected = port1Wanted;
        ports_.SelectionSent = true;
        return;
    }

    mailbox_.ReadVersion(wanted, shownVersion_);
    shownPort_ = wanted;
    front_.VersionRead(wanted, shownVersion_);
}

} // namespace vyk::pd
