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

std::string VersionLabelText(int port, const uint8_t* version8)
{
    return (port == 1 ? "PORT1 FW2 VER : " : "PORT2 FW2 VER : ") + VersionBytesText(version8) + ' ';
}

VersionMonitor::VersionMonitor(Mailbox& mailbox, PortSelection& ports, SequenceView& view)
    : mailbox_(mailbox), ports_(ports), view_(view)
{
}

void VersionMonitor::Tick()
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
    mailbox_.ReadVersion(port, shownVersion_);
    shownPort_ = port;
    view_.SetVersionLabel(VersionLabelText(port, shownVersion_), port == 1 ? Port1LabelColour : Port2LabelColour);
}

} // namespace vyk::pd
