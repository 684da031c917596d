#pragma once
#include <chrono>
#include <cstdint>

#include "pd/ImageBuffer.h"
#include "pd/Mailbox.h"
#include "pd/PortSelection.h"
#include "pd/SequenceOutcome.h"
#include "pd/SequenceView.h"

namespace vyk::pd {

// "Read FW": ReadState 0 (idle) to 10 on Timer3; one block per two ticks
// (request in state 6, fetch in state 7), packed into the image buffer from
// index 0.
class FlashReadSequence {
public:
    FlashReadSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, SequenceView& view,
                      std::chrono::steady_clock::duration busyBound = BusySpinLimit);

    // Disables the controls, enables Timer3 (through the view), ReadState = 1.
    void Button3Click();
    // One tick.
    void Timer3Timer();

    int ReadState() const { return state_; }
    bool Running() const { return state_ != 0; }
    SequenceOutcome Outcome() const { return outcome_; }
    uint32_t BlocksDone() const { return blocksDone_; }
    uint32_t BlocksTotal() const { return blocksTotal_; }

private:
    void SetUpRange();
    void FetchBlock();
    void Complete();
    void Stop(SequenceOutcome outcome);

    Mailbox& mailbox_;
    ImageStore& image_;
    PortSelection& ports_;
    SequenceView& view_;
    std::chrono::steady_clock::duration busyBound_;
    PortSelectStep select_;

    int state_ = 0;
    uint32_t blockHigh_ = 0;
    uint32_t blockMid_ = 0;
    uint32_t endBlock_ = 0;
    uint32_t startBlock_ = 0;
    uint32_t blocksDone_ = 0;
    uint32_t blocksTotal_ = 0;
    SequenceOutcome outcome_ = SequenceOutcome::None;
};

} // namespace vyk::pd
