#pragma once
#include <chrono>
#include <cstdint>

#include "pd/ImageBuffer.h"
#include "pd/Mailbox.h"
#include "pd/PortSelection.h"
#include "pd/SequenceOutcome.h"
#include "pd/SequenceView.h"

namespace vyk::pd {

// "Flash Go": FlashState 0 (idle) to 10 on Timer2; every block of the range
// is sent inside the one tick of state 6.
class FlashWriteSequence {
public:
    FlashWriteSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, SequenceView& view,
                       std::chrono::steady_clock::duration busyBound = BusySpinLimit);

    // Disables the controls, enables Timer2 (through the view), FlashState = 1.
    void Button2Click();
    // One tick.
    void Timer2Timer();

    int FlashState() const { return state_; }
    bool Running() const { return state_ != 0; }
    SequenceOutcome Outcome() const { return outcome_; }
    // Blocks of the last range set up, and those sent so far.
    uint32_t BlocksDone() const { return blocksDone_; }
    uint32_t BlocksTotal() const { return blocksTotal_; }

private:
    void SetUpRange();
    void SendBlocks();
    void Complete();
    void Stop(SequenceOutcome outcome);

    Mailbox& mailbox_;
    ImageStore& image_;
    PortSelection& ports_;
    SequenceView& view_;
    std::chrono::steady_clock::duration busyBound_;
    PortSelectStep select_;

    int state_ = 0;
    uint32_t blockHigh_ = 0;   // bits 23..16 of the next block; only the low 8 bits are sent
    uint32_t blockMid_ = 0;    // bits 15..8 of the next block
    uint32_t endBlock_ = 0;    // first block after the range, not written
    uint32_t startBlock_ = 0;
    uint32_t blocksDone_ = 0;
    uint32_t blocksTotal_ = 0;
    SequenceOutcome outcome_ = SequenceOutcome::None;
};

} // namespace vyk::pd
