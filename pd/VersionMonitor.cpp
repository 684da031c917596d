#include "pd/VersionMonitor.h"

#include "pd/HexText.h"

namespace vyk::pd {

std::string VersionLabelText(int port, const uint8_t* version8)
{
    std::string text = port == 1 ? "PORT1 FW2 VER : " : "PORT2 FW2 VER : ";
    for (int i = 0; i < VersionSize; ++i) {
        text += HexDigits(version8[i], 2);
        text += ' ';
    }
    return text;
}

VersionMonitor::VersionMonitor(Mailbox& mailbox, PortSelection& ports, SequenceView& view)
    : mailbox_(mailbox), ports_(ports), view_(view)
{
}

void VersionMonitor::Timer1Timer()
{
    view_.RefreshClock();
    mailbox_.SetPresence(true);

    const bool port1Wanted = view_.Port1Wanted();
    if (ports_.Port1Selected != port1Wanted) {
        // A running sequence sends its own selection at its start; one sent
        // from here could fall between its commands.
        if (ports_.SequenceRunning)
            return;
        mailbox_.SelectPort(port1Wanted ? 1 : 2);
        ports_.Port1Selected = port1Wanted;
        ports_.SelectionSent = true;
        return;
    }

    const int port = port1Wanted ? 1 : 2;
    uint8_t version[VersionSize];
    mailbox_.ReadVersion(port, version);
    view_.SetVersionLabel(VersionLabelText(port, version), port == 1 ? Port1LabelColour : Port2LabelColour);
}

} // namespace vyk::pd
