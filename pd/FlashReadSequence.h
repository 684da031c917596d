#pragma once
#include "pd/FirmwareSequence.h"

namespace vyk::pd {

// "Read FW": ReadState 0 (idle) to 10 on Timer3; one block per two ticks
// (request in state 6, fetch in state 7), packed into the image buffer from
// index 0.
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
    void FetchBlock();
};

} // namespace vyk::pd
