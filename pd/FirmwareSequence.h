#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "pd/ImageBuffer.h"
#include "pd/Mailbox.h"
#include "pd/PortSelection.h"
#include "pd/SequenceOutcome.h"
#include "pd/SequenceView.h"

namespace vyk::pd {

// What the flash-write and flash-read sequences share: arming, the command
// series before the blocks with the port selection in front of CmdInit
// (states 1 to 5), the one after them (states 8 to 10), the block counter and
// giving the controls back. Each sequence supplies its range set-up and its
// transfer states.
class FirmwareSequence {
public:
    bool Running() const { return state_ != 0; }
    SequenceOutcome Outcome() const { return outcome_; }
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

protected:
    struct Texts {
        const char* started;     // stamped, state 1
        const char* done;        // after the last block, state 8
        const char* completed;   // stamped, state 10
        const char* name;        // "Flash write", "Read FW": heads the lines telling why it stopped
        const char* nothingDone; // "nothing flashed", "nothing read": without port access
        const char* stopNote;    // what a stop leaves besides the PD ("", ", no data kept")
    };

    FirmwareSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, SequenceView& view,
                     std::chrono::steady_clock::duration busyBound, SequenceTimer timer, Texts texts);
    virtual ~FirmwareSequence() = default;

    // Controls off, timer on, state 1.
    void Arm();
    // One tick of the state table.
    void Tick();

    // State 5, once the EC is idle: ends in state 6 or in Stop().
    virtual void SetUpRange() = 0;
    // States 6 and 7.
    virtual void TransferStep() = 0;
    // Between "Reset PD Register Done" and the closing stamped line.
    virtual void OnCompleted() {}
    // Any other end: what was gathered so far is dropped.
    virtual void OnStoppedShort() {}

    // Splits the start address into the block counter; the end block
    // comes from the end address.
    void SetRange(uint32_t startAddress, uint32_t endAddress);
    uint32_t NextBlock() const { return ((blockHigh_ & 0xFF) << 8) | blockMid_; }
    uint32_t NextAddress() const { return blockHigh_ * 65536 + blockMid_ * 256; }
    // Advances to the next block; true when that is the end block. An
    // equality test on the two bytes, as the EC's block numbers wrap.
    bool AdvanceToEnd();
    // State 5 found a range it cannot transfer: logs the line and ends.
    void Refuse(const std::string& line);
    void Stop(SequenceOutcome outcome);
    bool StopRequested() const { return stopRequest_ && stopRequest_->load(std::memory_order_relaxed); }
    // StopNow() before the last block has been handed over.
    void StopOnRequest();

    Mailbox& mailbox_;
    ImageStore& image_;
    PortSelection& ports_;
    SequenceView& view_;
    const std::chrono::steady_clock::duration busyBound_;

    int state_ = 0;
    uint32_t startBlock_ = 0;
    uint32_t endBlock_ = 0;    // first block after the range, not transferred
    uint32_t blocksDone_ = 0;
    uint32_t blocksTotal_ = 0;

private:
    // The step of the current state, once its busy test (if any) read idle.
    void Step();
    // StopNow() once every block has been handed over.
    void FinishTransfer();
    void Complete();

    const SequenceTimer timer_;
    const Texts texts_;
    uint32_t blockHigh_ = 0;   // bits 23..16 of the next block; only the low 8 bits are sent
    uint32_t blockMid_ = 0;    // bits 15..8 of the next block
    SequenceOutcome outcome_ = SequenceOutcome::None;
    const std::atomic<bool>* stopRequest_ = nullptr;
};

} // namespace vyk::pd
