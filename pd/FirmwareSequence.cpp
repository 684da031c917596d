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

FirmwareSequence::FirmwareSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, FrontEnd& front,
                                   std::chrono::steady_clock::duration busyBound, SequenceKind kind, Texts texts,
                                   RangeTexts rangeTexts)
    : mailbox_(mailbox), image_(image), ports_(ports), front_(front), busyBound_(busyBound), kind_(kind),
      texts_(texts), rangeTexts_(rangeTexts)
{
}

bool FirmwareSequence::Start()
{
    fixedRange_ = false;
    // A typo such as "0x00C000" or "00c000" reads as 0: refused before the
    // PD is touched, the controls as they were.
    if (const RangeChoice choice = front_.RangeFor(kind_); choice.Refused()) {
        front_.AddLogLine(std::string(rangeTexts_.button) + " refused: " + choice.refusal +
                          "; nothing sent, the PD not touched");
        return false;
    }
    Arm();
    return true;
}

void FirmwareSequence::StartOnRange(FlashRange range)
{
    Arm();
    fixedRange_ = true;
    fixed_ = range;
}

void FirmwareSequence::Arm()
{
    front_.SequenceStarted(kind_);
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
        front_.AddLogLine(std::string(texts_.name) + ": " + texts_.nothingDone + ", the port library has no access (" +
                         front_.PortStatusText() + ")");
        Stop(SequenceOutcome::NoPortAccess);
        return;
    }
    front_.AddStampedLogLine(texts_.started);
    mailbox_.FillWindow();
    front_.ScrollLogLineDown();
    state_ = S::Init;
}

void FirmwareSequence::Step()
{
    switch (state_) {
    case S::FillWindow:
        Begin();
        return;
    case S::Init:
        // Our commands go to the port the user chose.
        if (SendSelectionIfDue(mailbox_, ports_, front_.ChosenPort())) {
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
        front_.AddLogLine("Jump To Boot Mode Done.");
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
        front_.AddLogLine(texts_.done);
        mailbox_.IssueCommand(CmdValidate);
        state_ = S::ResetPd;
        return;
    case S::ResetPd:
        front_.AddLogLine("Request The New Firmware To Be Validated Done");
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
    front_.AddLogLine("Enter Flashing Mode Done.");
    front_.AddLogLine(t.working);

    const std::string head = std::string(texts_.name) + ": ";
    // What the user typed stays editable while the PD walks into flashing mode.
    FlashRange range = fixed_;
    if (!fixedRange_) {
        const RangeChoice choice = front_.RangeFor(kind_);
        if (choice.Refused()) {
            Refuse(head + "changed meanwhile, " + choice.refusal + t.refused);
            return;
        }
        range = choice.range;
    }
    const uint32_t start = range.start;
    front_.AddLogLine(std::string(t.addrName) + " Start Addr = 0x" + HexDigits(start, 6));
    const uint32_t end = range.end;
    front_.AddLogLine(std::string(t.addrName) + " End Addr = 0x" + HexDigits(end, 6));
    SetRange(start, end);
    if (t.countLine)
        front_.AddLogLine(t.countLine + HexDigits(endBlock_, 6));

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
    front_.AddLogLine(line + "; PD reset sent to leave flashing mode");
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
        front_.AddLogLine(head + " before CmdInit, the PD not touched" + texts_.stopNote);
        Stop(SequenceOutcome::Stopped);
        return;
    }
    const std::string done = blocksTotal_ == 0 ? std::string(" before the first block")
                                               : " after " + std::to_string(blocksDone_) + " of " +
                                                     std::to_string(blocksTotal_) + " blocks";
    if (!mailbox_.WaitIdle(busyBound_)) {
        front_.AddLogLine(head + done + texts_.stopNote + ", but the EC stayed busy for " + BoundText(busyBound_) +
                         ": no validate sent, no reset could be sent");
        Stop(SequenceOutcome::EcStayedBusy);
        return;
    }
    front_.AddLogLine(head + done + texts_.stopNote + ", no validate sent, PD reset sent");
    mailbox_.IssueCommand(CmdResetPd);
    Stop(SequenceOutcome::Stopped);
}

void FirmwareSequence::FinishTransfer()
{
    // Dropping a whole transfer would leave the PD in its boot loader with
    // every block in place: finish it, each step once the EC is idle.
    front_.AddLogLine(std::string(texts_.name) + ": stop asked for after the last block; the transfer is whole, "
                                                "so the validate and the PD reset still go out");
    while (state_ >= S::FinishBlock && state_ <= S::ResetPd) {
        if (!mailbox_.WaitIdle(busyBound_)) {
            front_.AddLogLine(std::string(texts_.name) + ": the EC stayed busy for " + BoundText(busyBound_) +
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
    front_.AddLogLine("Reset PD Register Done");
    OnCompleted();
    if (texts_.completed)
        front_.AddStampedLogLine(texts_.completed);
    Stop(SequenceOutcome::Completed);
}

PdAfter FirmwareSequence::PdState() const
{
    // CmdInit is out from JumpBoot on.
    if (Running())
        return state_ >= S::JumpBoot ? PdAfter::MayBeInBootLoader : PdAfter::NotTouched;
    return pdAfter_;
}

namespace {

PdAfter PdAfterEnd(SequenceOutcome outcome, SequenceState state)
{
    switch (outcome) {
    case SequenceOutcome::Completed: return PdAfter::Running;
    case SequenceOutcome::RangeRefused: return PdAfter::Reset;
    case SequenceOutcome::EcStayedBusy: return PdAfter::MayBeInBootLoader;
    // Up to CmdInit nothing reaches the PD; after it a stop resets it.
    case SequenceOutcome::Stopped: return state <= S::Init ? PdAfter::NotTouched : PdAfter::Reset;
    default: return PdAfter::NotTouched;
    }
}

} // namespace

void FirmwareSequence::Stop(SequenceOutcome outcome)
{
    pdAfter_ = PdAfterEnd(outcome, state_);
    // Every EC that stays busy ends a run after CmdInit went out.
    if (outcome == SequenceOutcome::EcStayedBusy && strandedStage_) {
        PdLeft left;
        left.stage = *strandedStage_;
        left.port = PortNumber(front_.ChosenPort());
        left.blocksWritten = blocksDone_;
        left.blocksTotal = blocksTotal_;
        front_.AddLogLine(WindowBootLoaderAdvice(left));
    }
    state_ = S::Idle;
    if (outcome != SequenceOutcome::Completed)
        OnStoppedShort();
    ports_.SequenceRunning = false;
    outcome_ = outcome;
    front_.SequenceEnded(kind_, outcome);
}

} // namespace vyk::pd
