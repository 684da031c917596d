#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pd/EcConnection.h"
#include "pd/FirmwareSequence.h"
#include "pd/FlashVerify.h"
#include "pd/FrontEnd.h"
#include "pd/ImageBuffer.h"

namespace vyk::pd {

// The firmware operations for a front end without timers: each runs to its
// end within the call, one tick straight after the other, and says in a
// value how it ended. The window runs the same sequences on its timers.

// What an operation is asked to do. The range is taken as given: the front
// end has checked it against what the user typed.
struct RunRequest {
    FlashRange range;
    PdPort port = PdPort::Port1;
    // How long the EC may stay busy at one step, in the sequence's own
    // waits and across ticks that move nothing.
    std::chrono::steady_clock::duration busyBound = BusySpinLimit;
    // After every tick and every log line: blocks done, and blocks of the
    // range set up (0 before the range step).
    std::function<void(uint32_t done, uint32_t total)> progress;
    // A stop asked for from outside; may be set from a signal handler.
    const std::atomic<bool>* stop = nullptr;
    // The sequence's lines; a stamped one carries the local clock.
    LogSink log;
};

// How one sequence run ended.
struct RunResult {
    SequenceOutcome outcome = SequenceOutcome::None;
    // The EC stayed busy past the bound with nothing moving, in the state
    // given, waiting for what `waitingFor` says; the run was left there.
    bool stalled = false;
    SequenceState stalledIn = SequenceState::Idle;
    std::string waitingFor;
    PdAfter pd = PdAfter::NotTouched;
    // Blocks transferred, of the range asked for.
    uint32_t blocksDone = 0;
    uint32_t blocksTotal = 0;
    bool Completed() const { return !stalled && outcome == SequenceOutcome::Completed; }
};

// The range into `store` (packed from index 0, as a read keeps it).
RunResult ReadFlash(EcConnection& link, const RunRequest& request, ImageStore& store);
// The range written from `image` (buffer index is flash address), then
// validated and the PD reset.
RunResult WriteFlash(EcConnection& link, const RunRequest& request, ImageStore& image);

// A read-back of the range and what it shows against the image.
struct VerifyResult {
    RunResult run;
    FlashComparison compared;   // set when the read-back completed
};
VerifyResult VerifyFlash(EcConnection& link, const RunRequest& request, const ImageStore& image);

// The eight version bytes of each port asked for, as the monitor reads
// them: a tick that selects the port, then one that reads it, each once the
// EC is idle.
struct PortVersion {
    PdPort port = PdPort::Port1;
    std::array<uint8_t, VersionSize> bytes{};
};
struct VersionsResult {
    std::vector<PortVersion> versions;   // in the order asked, up to a failure
    // The port at which it stopped: the EC stayed busy, or (never expected)
    // the monitor showed no version.
    std::optional<PdPort> failedAt;
    bool ecBusy = false;
    bool Completed() const { return !failedAt; }
};
VersionsResult ReadVersions(EcConnection& link, const std::vector<PdPort>& ports,
                            std::chrono::steady_clock::duration busyBound);

// CmdResetPd to a port, after its selection, each step once the EC is idle:
// what puts right a PD a run left in its boot loader.
enum class ResetEnd {
    Done,                  // the EC reports the reset done
    BusyBeforeSelection,   // nothing sent
    BusyAfterSelection,    // no reset sent
    BusyAfterReset,        // sent; it may not have been carried out
};
ResetEnd ResetPd(EcConnection& link, PdPort port, std::chrono::steady_clock::duration busyBound);

} // namespace vyk::pd
