#include "pd/FirmwareSequence.h"

#include "pd/AddressField.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

FirmwareSequence::FirmwareSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, SequenceView& view,
                                   std::chrono::steady_clock::duration busyBound, SequenceTimer timer, Texts texts)
    : mailbox_(mailbox), image_(image), ports_(ports), view_(view), busyBound_(busyBound), timer_(timer),
      texts_(texts)
{
}

void FirmwareSequence::Arm()
{
    view_.SequenceRunning(timer_, true);
    view_.SetSequenceControlsEnabled(false);
    view_.SetTimerEnabled(timer_, true);
    state_ = 1;
    ports_.SequenceRunning = true;
    outcome_ = SequenceOutcome::Running;
    blocksDone_ = 0;
    blocksTotal_ = 0;
}

void FirmwareSequence::Tick()
{
    if (state_ < 1 || state_ > 10)
        return;
    // Honoured before this tick reaches the EC.
    if (StopRequested()) {
        StopNow();
        return;
    }
    // States that issue a command test the EC once per tick and wait while
    // it is busy; the transfer states and the last one have their own rules.
    const bool guarded = (state_ >= 2 && state_ <= 5) || state_ == 8 || state_ == 9;
    if (guarded && mailbox_.IsBusy())
        return;
    Step();
}

void FirmwareSequence::Step()
{
    switch (state_) {
    case 1:
        // Every write would be dropped and every read give 0, the busy test
        // included: the run would claim steps that never happened.
        if (!mailbox_.Ec().PortReady()) {
            view_.AddLogLine(std::string(texts_.name) + ": " + texts_.nothingDone +
                             ", the port library has no access (" + view_.PortStatusText() + ")");
            Stop(SequenceOutcome::NoPortAccess);
            return;
        }
        view_.AddStampedLogLine(texts_.started);
        mailbox_.FillWindow();
        view_.ScrollLogLineDown();
        state_ = 2;
        return;
    case 2:
        // Our commands go to the port the radio buttons show.
        if (SendSelectionIfDue(mailbox_, ports_, view_.Port1Wanted())) {
            // The next tick's busy test waits for the EC to finish it.
            return;
        }
        mailbox_.IssueCommand(CmdInit);
        state_ = 3;
        return;
    case 3:
        mailbox_.IssueCommand(CmdJumpBoot);
        state_ = 4;
        return;
    case 4:
        view_.AddLogLine("Jump To Boot Mode Done.");
        mailbox_.IssueCommand(CmdEnterFlash);
        state_ = 5;
        return;
    case 5:
        SetUpRange();
        return;
    case 6:
    case 7:
        TransferStep();
        return;
    case 8:
        view_.AddLogLine(texts_.done);
        mailbox_.IssueCommand(CmdValidate);
        state_ = 9;
        return;
    case 9:
        view_.AddLogLine("Request The New Firmware To Be Validated Done");
        mailbox_.IssueCommand(CmdResetPd);
        state_ = 10;
        return;
    case 10:
        Complete();
        return;
    default:
        return;
    }
}

void FirmwareSequence::SetRange(uint32_t startAddress, uint32_t endAddress)
{
    blockHigh_ = (startAddress >> 16) & 0xFF;
    blockMid_ = (startAddress >> 8) & 0xFF;
    startBlock_ = BlockOf(startAddress);
    endBlock_ = BlockOf(endAddress);
}

bool FirmwareSequence::AdvanceToEnd()
{
    ++blocksDone_;
    if (++blockMid_ == 256) {
        blockMid_ = 0;
        ++blockHigh_;
    }
    return (blockHigh_ & 0xFF) == ((endBlock_ >> 8) & 0xFF) && blockMid_ == (endBlock_ & 0xFF);
}

void FirmwareSequence::Refuse(const std::string& line)
{
    // The EC has just read idle and holds the PD in flashing mode with
    // nothing written: reset it to the firmware it has rather than leave it
    // waiting in its boot loader. Not waited for, as at a sequence's end.
    view_.AddLogLine(line + "; PD reset sent to leave flashing mode");
    mailbox_.IssueCommand(CmdResetPd);
    Stop(SequenceOutcome::RangeRefused);
}

void FirmwareSequence::StopNow()
{
    if (!Running())
        return;
    if (blocksTotal_ != 0 && blocksDone_ == blocksTotal_)
        FinishTransfer();
    else
        StopOnRequest();
}

void FirmwareSequence::StopOnRequest()
{
    const std::string head = std::string(texts_.name) + ": stopped on request";
    // Before CmdInit the PD has not been touched (a port selection is no PD
    // command): nothing to undo.
    if (state_ <= 2) {
        view_.AddLogLine(head + " before CmdInit, the PD not touched" + texts_.stopNote);
        Stop(SequenceOutcome::Stopped);
        return;
    }
    const std::string done = blocksTotal_ == 0 ? std::string(" before the first block")
                                               : " after " + std::to_string(blocksDone_) + " of " +
                                                     std::to_string(blocksTotal_) + " blocks";
    if (!mailbox_.WaitIdle(busyBound_)) {
        view_.AddLogLine(head + done + texts_.stopNote + ", but the EC stayed busy for " + BoundText(busyBound_) +
                         ": no validate sent, no reset could be sent");
        Stop(SequenceOutcome::EcStayedBusy);
        return;
    }
    view_.AddLogLine(head + done + texts_.stopNote + ", no validate sent, PD reset sent");
    mailbox_.IssueCommand(CmdResetPd);
    Stop(SequenceOutcome::Stopped);
}

void FirmwareSequence::FinishTransfer()
{
    // Dropping a whole transfer would leave the PD in its boot loader with
    // every block in place: finish it, each step once the EC is idle.
    view_.AddLogLine(std::string(texts_.name) + ": stop asked for after the last block; the transfer is whole, "
                                                "so the validate and the PD reset still go out");
    while (state_ >= 7 && state_ <= 9) {
        if (!mailbox_.WaitIdle(busyBound_)) {
            view_.AddLogLine(std::string(texts_.name) + ": the EC stayed busy for " + BoundText(busyBound_) +
                             (state_ == 9 ? " after the validate: no reset could be sent"
                                        : " after the last block: no validate sent, no reset could be sent"));
            Stop(SequenceOutcome::EcStayedBusy);
            return;
        }
        Step();
    }
    Complete();
}

void FirmwareSequence::Complete()
{
    view_.AddLogLine("Reset PD Register Done");
    OnCompleted();
    view_.AddStampedLogLine(texts_.completed);
    Stop(SequenceOutcome::Completed);
}

void FirmwareSequence::Stop(SequenceOutcome outcome)
{
    state_ = 0;
    view_.SetTimerEnabled(timer_, false);
    if (outcome == SequenceOutcome::Completed) {
        view_.SetSequenceControlsEnabled(true);
    } else {
        OnStoppedShort();
        view_.RestoreSequenceControls();
    }
    ports_.SequenceRunning = false;
    outcome_ = outcome;
    view_.SequenceRunning(timer_, false);
}

} // namespace vyk::pd
