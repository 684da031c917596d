#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "cli/Console.h"
#include "pd/SequenceView.h"

namespace vyk::cli {

// The tool's face towards the pd/ state machines: log lines go to the
// console, the address fields come from the command line, the controls and
// timers have nothing behind them (the tool drives the ticks itself).
class ConsoleView final : public pd::SequenceView {
public:
    ConsoleView(Console& console, std::string startText, std::string endText, int port);

    void AddLogLine(std::string_view text) override;
    // Refreshes the clock first: with no monitor ticking beside it, the
    // tool's stamps show when the line was written.
    void AddStampedLogLine(std::string_view text) override;
    void ScrollLogLineDown() override {}
    std::string AddressFieldText(pd::AddressField field) override;
    bool Port1Wanted() override { return port_ == 1; }
    void SetSequenceControlsEnabled(bool) override {}
    void SetTimerEnabled(pd::SequenceTimer, bool) override {}
    void EnableFlashGo() override {}
    void RestoreSequenceControls() override {}
    void SequenceRunning(pd::SequenceTimer, bool) override {}
    // Never named: without port access the tool stops before any sequence.
    std::string PortStatusText() override { return "no port access"; }
    void RefreshClock() override;
    void SetVersionLabel(std::string_view text, uint32_t colour) override;

    void SetPort(int port) { port_ = port; }
    // Asked after every log line, so the bar moves inside the flash
    // write's single long tick too.
    void SetProgressSource(std::function<void()> source) { progress_ = std::move(source); }

    const std::string& DateText() const { return dateText_; }
    const std::string& TimeText() const { return timeText_; }
    // The last version label shown, empty until the monitor showed one.
    const std::string& VersionLabel() const { return label_; }
    uint32_t VersionLabelColour() const { return labelColour_; }
    void ClearVersionLabel() { label_.clear(); }

private:
    Console& console_;
    std::string startText_, endText_;
    int port_;
    std::string dateText_, timeText_;
    std::string label_;
    uint32_t labelColour_ = 0;
    std::function<void()> progress_;
};

} // namespace vyk::cli
