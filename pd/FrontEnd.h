#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "pd/FlashRange.h"
#include "pd/PdPort.h"
#include "pd/SequenceOutcome.h"

namespace vyk::pd {

// What a front end answers when a sequence asks for its range: the range,
// or why what the user typed would be misread (then the range is unused).
struct RangeChoice {
    FlashRange range;
    std::string refusal;
    bool Refused() const { return !refusal.empty(); }
};

// Which sequence a front end hears of: each has its own pace (a write
// sends every block in one tick, a read one block per two ticks), and the
// read-back follows a completed write.
enum class SequenceKind { Write, Read, ReadBack };

// Where log lines go when no window shows them.
using LogSink = std::function<void(std::string_view)>;

// What the firmware sequences and the monitor need from their front end
// (the window, the tool's run-to-end operations, a test): values asked for
// at the step that needs them, and events the front end turns into what it
// shows. Nothing here knows of a control.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Activity log. A plain line is the text as given; a stamped line is
    // the date, two blanks, the time, " >> " and the text, with the clock
    // texts of the last refresh.
    virtual void AddLogLine(std::string_view text) = 0;
    virtual void AddStampedLogLine(std::string_view text) = 0;
    // The one-line-down scroll a sequence asks for in its first step.
    virtual void ScrollLogLineDown() = 0;

    // The range a sequence is to transfer, asked as it starts and again at
    // its range step (what the user typed may have changed meanwhile).
    virtual RangeChoice RangeFor(SequenceKind kind) = 0;
    // The PD port the user chose; asked whenever a step needs it.
    virtual PdPort ChosenPort() = 0;
    // What the front end shows for its port access ("IO NG2", ...), named
    // by the line of a sequence that has no port access to run on.
    virtual std::string PortStatusText() = 0;

    // A sequence begins (before anything else it does) or ends (after
    // everything else, on every way it ends, with how it ended).
    virtual void SequenceStarted(SequenceKind kind) = 0;
    virtual void SequenceEnded(SequenceKind kind, SequenceOutcome outcome) = 0;

    // The monitor's clock refresh, once a tick, before anything else.
    virtual void RefreshClock() = 0;
    // The monitor read the eight version bytes of `port`.
    virtual void VersionRead(PdPort port, const uint8_t* version8) = 0;
};

} // namespace vyk::pd
