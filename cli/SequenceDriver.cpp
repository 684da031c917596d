#include "cli/SequenceDriver.h"

#include <functional>

#include "cli/Interrupt.h"
#include "hw/WaitClock.h"
#include "pd/FlashReadSequence.h"

namespace vyk::cli {

std::string ToolText(const CommonOptions& common)
{
    std::string text = "vykuu";
    if (!common.backend.simDir.empty())
        text += " --sim " + ShellWord(common.backend.simDir);
    if (!common.backend.portLibrary.empty())
        text += " --port-library " + ShellWord(common.backend.portLibrary);
    return text;
}

void TellPdLeft(Console& console, JsonSummary& summary, const std::string& advice)
{
    console.Error(advice);
    summary.Set("pdMayBeInBootLoader", true);
    summary.Set("advice", advice);
}

namespace {

struct DriveEnd {
    bool stalled = false;
    pd::SequenceState state = pd::SequenceState::Idle;
    pd::SequenceState lastState = pd::SequenceState::Idle;   // the state of the tick that ended the sequence
};

// Ticks a sequence with no pacing until it stops. A tick whose busy test
// reads busy changes nothing, so the loop gives up once neither the state
// nor the block count has moved for `limit`.
DriveEnd Drive(pd::FirmwareSequence& sequence, Clock::duration limit, const std::function<void()>& progress)
{
    pd::SequenceState lastState = sequence.State();
    uint32_t lastDone = sequence.BlocksDone();
    Clock::time_point since = WaitNow();
    while (sequence.Running()) {
        const pd::SequenceState before = sequence.State();
        sequence.Tick();
        progress();
        if (!sequence.Running())
            return {false, pd::SequenceState::Idle, before};
        const pd::SequenceState nowState = sequence.State();
        const uint32_t nowDone = sequence.BlocksDone();
        if (nowState != lastState || nowDone != lastDone) {
            lastState = nowState;
            lastDone = nowDone;
            since = WaitNow();
        } else if (WaitNow() - since > limit) {
            return {true, nowState, nowState};
        }
    }
    return {};
}

} // namespace

int RunSequence(Session& session, pd::FirmwareSequence& sequence, const Phase& phase, const Range& range,
                const CommonOptions& common, Console& console, ConsoleView& view, JsonSummary& summary)
{
    // The first tick fills the transfer window without a busy test. Back to
    // back, it would come while the EC still works on the reset or the port
    // selection that ended the step before, which the window leaves a timer
    // tick at least: the EC is let finish first.
    if (!session.mailbox.WaitIdle(ToDuration(common.timeoutSeconds)))
        return Fail(console, summary, ExitEcBusy,
                    std::string(phase.who) + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) +
                        " waiting for the EC to be idle before the window fill (state 1, 0 of " +
                        std::to_string(range.Blocks()) + " blocks done)");
    const auto progress = [&] { console.Progress(sequence.BlocksDone(), sequence.BlocksTotal()); };
    console.BeginProgress(phase.flash ? "flash" : phase.who);
    view.SetProgressSource(progress);
    sequence.SetStopRequest(&StopRequest());
    if (phase.left)
        SetHardStopText(HardStopAdvice(*phase.left));
    sequence.Start();
    const DriveEnd end = Drive(sequence, ToDuration(common.timeoutSeconds), progress);
    SetHardStopText({});
    view.SetProgressSource({});
    console.EndProgress();
    // Once CmdInit is out, an EC that stops answering leaves the PD on its
    // way into flashing mode or in it, with no reset sent.
    const auto tellLeft = [&](int code) {
        if (phase.left) {
            PdLeft left = *phase.left;
            if (phase.flash) {
                left.blocksWritten = sequence.BlocksDone();
                left.blocksTotal = range.Blocks();
            }
            TellPdLeft(console, summary, BootLoaderAdvice(left));
        }
        return code;
    };

    const std::string who = phase.who;
    const std::string done = std::to_string(sequence.BlocksDone()) + " of " + std::to_string(range.Blocks()) +
                             " blocks";
    const std::string interrupted = StopRequest() ? "; interrupted" : "";
    if (end.stalled) {
        const int code = Fail(console, summary, ExitEcBusy,
                              who + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) + " waiting for " +
                                  sequence.WaitingFor() + " (state " + std::to_string(static_cast<int>(end.state)) +
                                  ", " + done + " done)" + interrupted);
        // CmdInit is out from JumpBoot on.
        return end.state >= pd::SequenceState::JumpBoot ? tellLeft(code) : code;
    }
    switch (sequence.Outcome()) {
    case pd::SequenceOutcome::Completed:
        return ExitOk;
    case pd::SequenceOutcome::RangeRefused:
        return Fail(console, summary, ExitRangeRefused, who + ": range refused (see the log)");
    case pd::SequenceOutcome::EcStayedBusy:
        return tellLeft(Fail(console, summary, ExitEcBusy,
                             who + ": block " + Hex(range.startBlock + sequence.BlocksDone(), 4) +
                                 ": EC stayed busy for " + SecondsText(common.timeoutSeconds) + " (" + done +
                                 " done)" + interrupted));
    case pd::SequenceOutcome::NoPortAccess:
        return Fail(console, summary, ExitNoPortAccess, who + ": no port access; nothing sent");
    case pd::SequenceOutcome::Stopped:
        // Up to CmdInit nothing reaches the EC; after it the stop resets the PD.
        if (end.lastState <= pd::SequenceState::Init)
            return Interrupted(console, summary, who + ": interrupted before CmdInit; the PD was not touched" +
                                                     phase.afterStop);
        return Interrupted(console, summary,
                           who + ": interrupted after " + done + "; no validate sent; PD reset" + phase.afterStop);
    default:
        return Fail(console, summary, ExitInternal, who + ": sequence ended without an outcome");
    }
}

int ReadRange(Session& session, pd::ImageStore& store, const Phase& phase, const Range& range,
              const CommonOptions& common, Console& console, ConsoleView& view, JsonSummary& summary)
{
    pd::FlashReadSequence read(session.mailbox, store, session.ports, view, ToDuration(common.timeoutSeconds));
    const int code = RunSequence(session, read, phase, range, common, console, view, summary);
    if (code == ExitOk && static_cast<size_t>(store.ImageLength) != size_t{range.Blocks()} * 256)
        return Fail(console, summary, ExitInternal,
                    std::string(phase.who) + ": read " + std::to_string(store.ImageLength) + " bytes, expected " +
                        std::to_string(size_t{range.Blocks()} * 256));
    return code;
}

} // namespace vyk::cli
