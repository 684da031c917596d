#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "pd/Advice.h"
#include "pd/ImageBuffer.h"
#include "pd/Mailbox.h"
#include "pd/PortSelection.h"
#include "pd/SequenceOutcome.h"
#include "pd/FrontEnd.h"

namespace vyk::pd {

// The states of both sequences, each named by the step its tick performs.
// The numbers are the sequences' state numbers (0 idle, 1 to 10), which
// logs and traces show.
enum class SequenceState : int {
    Idle = 0,
    FillWindow = 1,   // the stamped start line, the transfer window filled
    Init = 2,         // the port selection when due, then CmdInit
    JumpBoot = 3,     // CmdJumpBoot
    EnterFlash = 4,   // CmdEnterFlash
    SetUpRange = 5,   // the range asked of the front end and checked
    SendBlock = 6,    // a write sends every block, a read requests the next
    FinishBlock = 7,  // a write waits for its last block, a read fetches one
    Validate = 8,     // CmdValidate
    ResetPd = 9,      // CmdResetPd
    Complete = 10,    // the controls given back
};

// What the flash-write and flash-read sequences share: arming, the command
// series before the blocks with the port selection in front of CmdInit, the
// range set-up, the command series after the blocks, the block counter and
// giving the controls back. Each sequence supplies its transfer states.
class FirmwareSequence {
public:
    // Asks the front end for the range before anything is sent: a range the
    // user would see misread gets one log line and nothing starts (false).
    // Otherwise the front end hears of the start, and the first state.
    bool Start();
    // The same run over a range given here, not asked of the front end: the
    // read-back that follows a flash, a run of the tool's.
    void StartOnRange(FlashRange range);
    // One tick of the state table.
    void Tick();

    SequenceState State() const { return state_; }
    bool Running() const { return state_ != SequenceState::Idle; }
    SequenceOutcome Outcome() const { return outcome_; }
    // Where the PD stands: for a running sequence, where it would be left if
    // the EC stopped answering now; for an ended one, where the end left it.
    PdAfter PdState() const;
    // Blocks of the last range set up, and those transferred so far.
    uint32_t BlocksDone() const { return blocksDone_; }
    uint32_t BlocksTotal() const { return blocksTotal_; }

    // A stop asked for from outside (a signal, the console closing), read
    // before each step and between blocks; it is honoured as StopNow().
    // The flag may be set from a signal handler and must outlive the runs.
    void SetStopRequest(const std::atomic<bool>* request) { stopRequest_ = request; }

    // Ends a running sequence within this call, every EC wait bounded by
    // the busy bound. Before the last block has been handed over: the block
    // in flight completes, no further block and no validate is sent, the PD
    // is reset once the EC is idle so it leaves its boot loader (none when
    // the stop comes before CmdInit), a read keeps nothing; the outcome is
    // Stopped. After it: the transfer is whole, so the validate and the reset
    // still go out and the sequence completes. An EC that stays busy ends it
    // as EcStayedBusy, saying what could not be sent.
    void StopNow();

    // Where an end that may leave the PD in its boot loader (the EC busy
    // after CmdInit) logs, after its own line, the state the PD may be in and
    // how to bring it back, for the window: the stage of the run it is.
    void AdviseWhenStranded(PdLeft::Stage stage) { strandedStage_ = stage; }
    // The window's first and end block of the last range set up.
    uint32_t StartBlock() const { return startBlock_; }
    uint32_t EndBlock() const { return endBlock_; }

    // What the current state's busy test waits for, for the tick that keeps
    // reading busy: "CmdInit", "the previous block", ...
    std::string WaitingFor() const;

protected:
    struct Texts {
        const char* started;     // stamped, FillWindow
        const char* done;        // after the last block, Validate
        const char* completed;   // stamped, Complete; null when the sequence says its own
        const char* name;        // "Flash write", "Read FW": heads the lines telling why it stopped
        const char* nothingDone; // "nothing flashed", "nothing read": without port access
        const char* stopNote;    // what a stop leaves besides the PD ("", ", no data kept")
        const char* lastBlockWait;  // what FinishBlock waits for
        const char* validateWait;   // what Validate waits for
    };
    // The range set-up's own texts.
    struct RangeTexts {
        const char* working;     // "Flashing...", "Reading..."
        const char* addrName;    // "Flash", "Read": "Flash Start Addr = 0x..."
        const char* countLine;   // "ReadCnt = 0x" with the end block, or null
        const char* lastBlock;   // what holds no block past 0x03FF
        const char* refused;     // ", range refused: no block sent"
        const char* button;      // "Flash Go", "Read FW": heads a refusal at the start
    };

    FirmwareSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, FrontEnd& front,
                     std::chrono::steady_clock::duration busyBound, SequenceKind kind, Texts texts,
                     RangeTexts rangeTexts);
    virtual ~FirmwareSequence() = default;

    // The sequence's own step of SetUpRange, for a range of blocks the flash
    // has: true to go on to SendBlock, false once it has refused the range.
    virtual bool AcceptRange() { return true; }
    // SendBlock and FinishBlock.
    virtual void TransferStep() = 0;
    // Between "Reset PD Register Done" and the closing stamped line.
    virtual void OnCompleted() {}
    // Any other end: what was gathered so far is dropped.
    virtual void OnStoppedShort() {}
    // A block the EC was asked for and that is not yet taken: a stop waits
    // for it (bounded, as every wait), so that it means "after the block in
    // flight" whenever the request comes.
    virtual bool BlockInFlight() const { return false; }

    // Splits the start address into the block counter; the end block
    // comes from the end address.
    void SetRange(uint32_t startAddress, uint32_t endAddress);
    uint32_t NextBlock() const { return ((blockHigh_ & 0xFF) << 8) | blockMid_; }
    uint32_t NextAddress() const { return blockHigh_ * 65536 + blockMid_ * 256; }
    // Advances to the next block; true when that is the end block. An
    // equality test on the two bytes, as the EC's block numbers wrap.
    bool AdvanceToEnd();
    // SetUpRange found a range it cannot transfer: logs the line and ends.
    void Refuse(const std::string& line);
    void Stop(SequenceOutcome outcome);
    bool StopRequested() const { return stopRequest_ && stopRequest_->load(std::memory_order_relaxed); }
    // "Flash write", "Read FW", "Verify": heads the lines telling why it stopped.
    const char* Name() const { return texts_.name; }
    // StopNow() before the last block has been handed over.
    void StopOnRequest();

    Mailbox& mailbox_;
    ImageStore& image_;
    PortSelection& ports_;
    FrontEnd& front_;
    const std::chrono::steady_clock::duration busyBound_;

    SequenceState state_ = SequenceState::Idle;
    uint32_t startBlock_ = 0;
    uint32_t endBlock_ = 0;    // first block after the range, not transferred
    uint32_t blocksDone_ = 0;
    uint32_t blocksTotal_ = 0;

private:
    // The step of the current state, once its busy test (if any) read idle.
    void Step();
    // FillWindow: ends the run at once without port access.
    void Begin();
    // SetUpRange, once the EC is idle: ends in SendBlock or in Stop().
    void SetUpRange();
    // StopNow() once every block has been handed over.
    void FinishTransfer();
    void Complete();

    const SequenceKind kind_;
    const Texts texts_;
    const RangeTexts rangeTexts_;
    uint32_t blockHigh_ = 0;   // bits 23..16 of the next block; only the low 8 bits are sent
    uint32_t blockMid_ = 0;    // bits 15..8 of the next block
    SequenceOutcome outcome_ = SequenceOutcome::None;
    PdAfter pdAfter_ = PdAfter::NotTouched;
    const std::atomic<bool>* stopRequest_ = nullptr;
    bool fixedRange_ = false;
    FlashRange fixed_;
    std::optional<PdLeft::Stage> strandedStage_;
    // Arms the first state, once the front end has heard of the start.
    void Arm();
};

} // namespace vyk::pd
