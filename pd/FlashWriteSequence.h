#pragma once
#include "pd/FirmwareSequence.h"

namespace vyk::pd {

// "Flash Go": FlashState 0 (idle) to 10 on Timer2; every block of the range
// is sent inside the one tick of state 6.
class FlashWriteSequence : public FirmwareSequence {
public:
    FlashWriteSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, SequenceView& view,
                       std::chrono::steady_clock::duration busyBound = BusySpinLimit);

    // Disables the controls, enables Timer2 (through the view), FlashState = 1.
    void Button2Click() { Arm(); }
    // One tick.
    void Timer2Timer() { Tick(); }

    int FlashState() const { return state_; }

private:
    void SetUpRange() override;
    void TransferStep() override;
    void OnCompleted() override;
    void SendBlocks();
};

} // namespace vyk::pd
