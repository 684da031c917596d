#pragma once
#include "pd/FirmwareSequence.h"

namespace vyk::pd {

// "Flash Go": FlashState 0 (idle) to 10 on the flash-write timer; every
// block of the range is sent inside the one tick of SendBlock.
class FlashWriteSequence : public FirmwareSequence {
public:
    FlashWriteSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, FrontEnd& front,
                       std::chrono::steady_clock::duration busyBound = BusySpinLimit);

    int FlashState() const { return static_cast<int>(State()); }

private:
    bool AcceptRange() override;
    void TransferStep() override;
    void OnCompleted() override;
    void SendBlocks();
};

} // namespace vyk::pd
