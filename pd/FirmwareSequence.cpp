#include "pd/FirmwareSequence.h"

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

using S = SequenceState;

namespace {

// States that issue a command test the EC once per tick and wait while it
// is busy; the transfer states and the last one have their own rules.
bool TestsBusyFirst(SequenceState state)
{
    switch (state) {
    case S::Init:
    case S::JumpBoot:
    case S::EnterFlash:
    case S::SetUpRange:
    case S::Validate:
    case S::ResetPd:
        return true;
    default:
        return false;
    }
}

} // namespace

FirmwareSequence::FirmwareSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, SequenceView& view,
                                   std::chrono::steady_clock::duration busyBound, SequenceTimer timer, Texts texts,
                                   RangeTexts rangeTexts)
    : mailbox_(mailbox), image_(image), ports_(ports), view_(view), busyBound_(busyBound), timer_(timer),
      texts_(texts), rangeTexts_(rangeTexts)
{
}

bool FirmwareSequence::Start()
{
    fixedRange_ = false;
    // A typo such as "0x00C000" or "00c000" reads as 0: refused before the
    // PD is touched, the controls as they were.
    if (const std::string refusal = FieldRefusal(); !refusal.empty()) {
        view_.AddLogLine(std::string(rangeTexts_.button) + " refused: " + refusal + "; nothing sent, the PD not touched");
        return false;
    }
    Arm();
    return true;
}

void FirmwareSequence::StartOnRange(uint32_t startAddress, uint32_t endAddress)
{
    Arm();
    fixedRange_ = true;
    fixedStart_ = startAddress;
    fixedEnd_ = endAddress;
}

std::string FirmwareSequence::FieldRefusal()
{
    std::string line = AddressFieldRefusal(rangeTexts_.startName, view_.AddressFieldText(rangeTexts_.startField));
    if (line.empty())
        line = AddressFieldRefusal(rangeTexts_.endName, view_.AddressFieldText(rangeTexts_.endField));
    return line;
}

void FirmwareSequence::Arm()
{
    view_.SequenceRunning(timer_, true);
    view_.SetSequenceControlsEnabled(false);
    view_.SetTimerEnabled(timer_, true);
    state_ = S::FillWindow;
    ports_.SequenceRunning = true;
    outcome_ = SequenceOutcome::Running;
    blocksDone_ = 0;
    blocksTotal_ = 0;
}

void FirmwareSequence::Tick()
{
    if (!Running())
        return;
    // Honoured before this tick reaches the EC, once no block is in flight.
    if (StopRequested() && !BlockInFlight()) {
        StopNow();
        return;
    }
    if (TestsBusyFirst(state_) && mailbox_.IsBusy())
        return;
    Step();
}

std::string FirmwareSequence::WaitingFor() const
{
    switch (state_) {
    case S::Init: return "the EC to be idle before the port selection and CmdInit";
    case S::JumpBoot: return "CmdInit";
    case S::EnterFlash: return "CmdJumpBoot";
    case S::SetUpRange: return "CmdEnterFlash";
    case S::SendBlock: return blocksDone_ == 0 ? "CmdEnterFlash" : "the previous block";
    case S::FinishBlock: return texts_.lastBlockWait;
    case S::Validate: return texts_.validateWait;
    case S::ResetPd: return "CmdValidate";
    default: return "the EC";
    }
}

void FirmwareSequence::Begin()
{
    // Every write would be dropped and every read give 0, the busy test
    // included: the run would claim steps that never happened.
    if (!mailbox_.Ec().PortReady()) {
        view_.AddLogLine(std::string(texts_.name) + ": " + texts_.nothingDone + ", the port library has no access (" +
                         view_.PortStatusText() + ")");
        Stop(SequenceOutcome::NoPortAccess);
        return;
    }
    view_.AddStampedLogLine(texts_.started);
    mailbox_.FillWindow();
    view_.ScrollLogLineDown();
    state_ = S::Init;
}

void FirmwareSequence::Step()
{
    switch (state_) {
    case S::FillWindow:
        Begin();
        return;
    case S::Init:
        // Our commands go to the port the radio buttons show.
        if (SendSelectionIfDue(mailbox_, ports_, view_.Port1Wanted())) {
            // The next tick's busy test waits for the EC to finish it.
            return;
        }
        mailbox_.IssueCommand(CmdInit);
        state_ = S::JumpBoot;
        return;
    case S::JumpBoot:
        mailbox_.IssueCommand(CmdJumpBoot);
        state_ = S::EnterFlash;
        return;
    case S::EnterFlash:
        view_.AddLogLine("Jump To Boot Mode Done.");
        mailbox_.IssueCommand(CmdEnterFlash);
        state_ = S::SetUpRange;
        return;
    case S::SetUpRange:
        SetUpRange();
        return;
    case S::SendBlock:
    case S::FinishBlock:
        TransferStep();
        return;
    case S::Validate:
        view_.AddLogLine(texts_.done);
        mailbox_.IssueCommand(CmdValidate);
        state_ = S::ResetPd;
        return;
    case S::ResetPd:
        view_.AddLogLine("Request The New Firmware To Be Validated Done");
        mailbox_.IssueCommand(CmdResetPd);
        state_ = S::Complete;
        return;
    case S::Complete:
        Complete();
        return;
    default:
        return;
    }
}

void FirmwareSequence::SetUpRange()
{
    const RangeTexts& t = rangeTexts_;
    view_.AddLogLine("Enter Flashing Mode Done.");
    view_.AddLogLine(t.working);

    const std::string head = std::string(texts_.name) + ": ";
    // The fields stay editable while the PD walks into flashing mode.
    if (!fixedRange_) {
        if (const std::string refusal = FieldRefusal(); !refusal.empty()) {
            Refuse(head + "changed meanwhile, " + refusal + t.refused);
            return;
        }
    }
    const uint32_t start = fixedRange_ ? fixedStart_ : ReadAddressField(view_.AddressFieldText(t.startField));
    view_.AddLogLine(std::string(t.addrName) + " Start Addr = 0x" + HexDigits(start, 6));
    const uint32_t end = fixedRange_ ? fixedEnd_ : ReadAddressField(view_.AddressFieldText(t.endField));
    view_.AddLogLine(std::string(t.addrName) + " End Addr = 0x" + HexDigits(end, 6));
    SetRange(start, end);
    if (t.countLine)
        view_.AddLogLine(t.countLine + HexDigits(endBlock_, 6));

    // The block loop only ends on reaching the end block, and the buffer (as
    // the flash) holds blocks 0x0000..0x03FF: anything else would never end,
    // would send bytes from outside the image, or would store what an EC
    // leaves in the window for a block it does not have, as if it had been
    // read.
    if (startBlock_ >= endBlock_) {
        Refuse(head + "start block " + BlockText(startBlock_) + " is not below end block " + BlockText(endBlock_) +
               t.refused);
        return;
    }
    if (endBlock_ > ImageBufferBlocks) {
        Refuse(head + "end block " + BlockText(endBlock_) + " lies past " + t.lastBlock + t.refused);
        return;
    }
    if (!AcceptRange())
        return;
    blocksTotal_ = endBlock_ - startBlock_;
    state_ = S::SendBlock;
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
    if (state_ <= S::Init) {
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
    while (state_ >= S::FinishBlock && state_ <= S::ResetPd) {
        if (!mailbox_.WaitIdle(busyBound_)) {
            view_.AddLogLine(std::string(texts_.name) + ": the EC stayed busy for " + BoundText(busyBound_) +
                             (state_ == S::ResetPd ? " after the validate: no reset could be sent"
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
    if (texts_.completed)
        view_.AddStampedLogLine(texts_.completed);
    Stop(SequenceOutcome::Completed);
}

void FirmwareSequence::Stop(SequenceOutcome outcome)
{
    // Every EC that stays busy ends a run after CmdInit went out.
    if (outcome == SequenceOutcome::EcStayedBusy && strandedStage_) {
        PdLeft left;
        left.stage = *strandedStage_;
        left.port = view_.Port1Wanted() ? 1 : 2;
        left.blocksWritten = blocksDone_;
        left.blocksTotal = blocksTotal_;
        view_.AddLogLine(WindowBootLoaderAdvice(left));
    }
    state_ = S::Idle;
    view_.SetTimerEnabled(timer_, false);
    if (outcome == SequenceOutcome::Completed) {
        if (!keepControls_)
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
