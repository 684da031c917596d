#pragma once
#include <vector>

#include "pd/FirmwareSequence.h"

namespace vyk::pd {

// "Read FW": ReadState 0 (idle) to 10 on the flash-read timer; one block per
// two ticks (request in SendBlock, fetch in FinishBlock). The blocks gather in a buffer of
// the sequence's own and reach the image buffer, packed from index 0, only
// when the read completes: a read that stops short leaves the image in
// memory as it was.
class FlashReadSequence : public FirmwareSequence {
public:
    FlashReadSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports, FrontEnd& front,
                      std::chrono::steady_clock::duration busyBound = BusySpinLimit);

    int ReadState() const { return static_cast<int>(State()); }

protected:
    // `blockLines`: a "ReadAddr = 0x" line per block, one block per two
    // ticks; without, the next block is requested as one is fetched.
    FlashReadSequence(Mailbox& mailbox, ImageStore& store, PortSelection& ports, FrontEnd& front,
                      std::chrono::steady_clock::duration busyBound, Texts texts, RangeTexts rangeTexts,
                      bool blockLines);
    void OnCompleted() override;

private:
    bool AcceptRange() override;
    void TransferStep() override;
    void OnStoppedShort() override;
    bool BlockInFlight() const override { return State() == SequenceState::FinishBlock; }
    void FetchBlock();

    std::vector<uint8_t> data_;   // the blocks fetched so far, in order
    const bool blockLines_ = true;
};

} // namespace vyk::pd
