#pragma once
#include <vector>

#include "pd/FirmwareSequence.h"

namespace vyk::pd {

// "Read FW": ReadState 0 (idle) to 10 on Timer3; one block per two ticks
// (request in state 6, fetch in state 7). The blocks gather in a buffer of
// the sequence's own and reach the image buffer, packed from index 0, only
// when the read completes: a read that stops short leaves the image in
// memory as it was.
class FlashReadSequence : public FirmwareSequence {
public:
    FlashReadSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, SequenceView& view,
                      std::chrono::steady_clock::duration busyBound = BusySpinLimit);

    // Disables the controls, enables Timer3 (through the view), ReadState = 1.
    void Button3Click() { Arm(); }
    // One tick.
    void Timer3Timer() { Tick(); }

    int ReadState() const { return state_; }

private:
    void SetUpRange() override;
    void TransferStep() override;
    void OnCompleted() override;
    void OnStoppedShort() override;
    void FetchBlock();

    std::vector<uint8_t> data_;   // the blocks fetched so far, in order
};

} // namespace vyk::pd
