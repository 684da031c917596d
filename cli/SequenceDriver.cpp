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

void RunSequence(Session& session, pd::FirmwareSequence& sequence, const Phase& phase, const Range& range,
                const CommonOptions& common, Console& console, ConsoleView& view)
{
    // The first tick fills the transfer window without a busy test. Back to
    // back, it would come while the EC still works on the reset or the port
    // selection that ended the step before, which the window leaves a timer
    // tick at least: the EC is let finish first.
    if (!session.mailbox.WaitIdle(ToDuration(common.timeoutSeconds)))
        throw Failure(Fault::EcBusy,
                    std::string(phase.who) + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) +
                        " waiting for the EC to be idle before the window fill (state 1, 0 of " +
                        std::to_string(range.Blocks()) + " blocks done)");
    const auto progress = [&] {
        if (phase.flash)
            SetHardStopBlocks(sequence.BlocksDone());
        console.Progress(sequence.BlocksDone(), sequence.BlocksTotal());
    };
    console.BeginProgress(phase.flash ? "flash" : phase.who);
    view.SetProgressSource(progress);
    sequence.SetStopRequest(&StopRequest());
    if (phase.left) {
        SetHardStopText(HardStopAdvice(*phase.left));
        SetHardStopPdState(JsonText(pd::PdStateText(*phase.left)), phase.flash);
    }
    sequence.Start();
    const DriveEnd end = Drive(sequence, ToDuration(common.timeoutSeconds), progress);
    SetHardStopText({});
    SetHardStopPdState({}, false);
    view.SetProgressSource({});
    console.EndProgress();
    // Once CmdInit is out, an EC that stops answering leaves the PD on its
    // way into flashing mode or in it, with no reset sent.
    const auto tellLeft = [&](Failure failure) {
        if (phase.left) {
            PdLeft left = *phase.left;
            if (phase.flash) {
                left.blocksWritten = sequence.BlocksDone();
                left.blocksTotal = range.Blocks();
            }
            failure.Advise(BootLoaderAdvice(left));
        }
        return failure;
    };

    const std::string who = phase.who;
    const std::string done = std::to_string(sequence.BlocksDone()) + " of " + std::to_string(range.Blocks()) +
                             " blocks";
    const std::string interrupted = StopRequest() ? "; interrupted" : "";
    if (end.stalled) {
        const Failure failure(Fault::EcBusy, who + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) +
                                              " waiting for " + sequence.WaitingFor() + " (state " +
                                              std::to_string(static_cast<int>(end.state)) + ", " + done + " done)" +
                                              interrupted);
        // CmdInit is out from JumpBoot on.
        throw end.state >= pd::SequenceState::JumpBoot ? tellLeft(failure) : failure;
    }
    switch (sequence.Outcome()) {
    case pd::SequenceOutcome::Completed:
        return;
    case pd::SequenceOutcome::RangeRefused:
        throw Failure(Fault::RangeRefused, who + ": range refused (see the log)");
    case pd::SequenceOutcome::EcStayedBusy:
        throw tellLeft(Failure(Fault::EcBusy, "EC stayed busy for " + SecondsText(common.timeoutSeconds) + " (" + done +
                                               " done)" + interrupted)
                           .Within("block at " + Hex((range.startBlock + sequence.BlocksDone()) << 8, 6))
                           .Within(who));
    case pd::SequenceOutcome::NoPortAccess:
        throw Failure(Fault::NoPortAccess, who + ": no port access; nothing sent");
    case pd::SequenceOutcome::Stopped:
        // Up to CmdInit nothing reaches the EC; after it the stop resets the PD.
        if (end.lastState <= pd::SequenceState::Init)
            throw Interruption(who + ": interrupted before CmdInit; the PD was not touched" + phase.afterStop);
        throw Interruption(who + ": interrupted after " + done + "; no validate sent; PD reset" + phase.afterStop);
    default:
        throw Failure(Fault::Internal, who + ": sequence ended without an outcome");
    }
}

void ReadRange(Session& session, pd::ImageStore& store, const Phase& phase, const Range& range,
              const CommonOptions& common, Console& console, ConsoleView& view)
{
    pd::FlashReadSequence read(session.mailbox, store, session.ports, view, ToDuration(common.timeoutSeconds));
    RunSequence(session, read, phase, range, common, console, view);
    if (static_cast<size_t>(store.ImageLength) != size_t{range.Blocks()} * 256)
        throw Failure(Fault::Internal, std::string(phase.who) + ": read " + std::to_string(store.ImageLength) +
                                        " bytes, expected " + std::to_string(size_t{range.Blocks()} * 256));
}

} // namespace vyk::cli
