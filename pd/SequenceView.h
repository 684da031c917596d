#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vyk::pd {

// The four address fields: Edit1/Edit2 of "Write PD FW", Edit3/Edit4 of
// "Read PD FW".
enum class AddressField { FlashStart, FlashEnd, ReadStart, ReadEnd };

// The timer that ticks each sequence.
enum class SequenceTimer { FlashWrite, FlashRead };

// What the firmware operations need from their front end: the window
// (TForm1), the command-line tool or a test. The state machines in pd/
// know nothing else of it.
class SequenceView {
public:
    virtual ~SequenceView() = default;

    // Activity log. A plain line is the text as given; a stamped line is
    // DateText, two blanks, TimeText, " >> " and the text, with the clock
    // texts of the last refresh.
    virtual void AddLogLine(std::string_view text) = 0;
    virtual void AddStampedLogLine(std::string_view text) = 0;
    // The one-line-down scroll a sequence asks for in its first step.
    virtual void ScrollLogLineDown() = 0;

    // The current text of an address field, whole.
    virtual std::string AddressFieldText(AddressField field) = 0;
    // RadioButton1 ("PORT 1 PD") checked.
    virtual bool Port1Wanted() = 0;
    // Button1, Button2, Button3, Button4, RadioButton1, RadioButton2, in
    // that order.
    virtual void SetSequenceControlsEnabled(bool enabled) = 0;
    virtual void SetTimerEnabled(SequenceTimer timer, bool enabled) = 0;
    // Enables "Flash Go" alone, after an image has been loaded.
    virtual void EnableFlashGo() = 0;
    // After a sequence stopped short (range refused, EC stayed busy):
    // Button1, Button3 and the radio buttons on again, "Flash Go" and "Save
    // Bin File" as they were before it started. Only a completed sequence
    // offers new data to flash or save.
    virtual void RestoreSequenceControls() = 0;
    // A sequence begins (before anything else it does) or ends (after
    // everything else, on every way it ends): the front end holds what
    // guards a running operation for exactly that long.
    virtual void SequenceRunning(SequenceTimer timer, bool running) = 0;
    // What the front end shows for its port access ("IO NG2", ...), named
    // by the line of a sequence that has no port access to run on.
    virtual std::string PortStatusText() = 0;

    // FormatLocalDate(DateText), then FormatLocalTime(TimeText); shows
    // them in status panels 0 and 1.
    virtual void RefreshClock() = 0;
    // Font colour first (0x00BBGGRR), then the caption of Label5.
    virtual void SetVersionLabel(std::string_view text, uint32_t colour) = 0;
};

} // namespace vyk::pd
