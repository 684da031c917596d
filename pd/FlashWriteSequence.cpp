#include "pd/FlashWriteSequence.h"

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

FlashWriteSequence::FlashWriteSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports,
                                       SequenceView& view, std::chrono::steady_clock::duration busyBound)
    : FirmwareSequence(mailbox, image, ports, view, busyBound, SequenceTimer::Timer2,
                       {"Cypress PD FW Flash Start", "Flash Done.", "Cypess PD FW Update Completed!", "Flash write",
                        "nothing flashed", ""})
{
}

void FlashWriteSequence::TransferStep()
{
    if (state_ == 6) {
        SendBlocks();
        return;
    }
    // State 7: the last block's write has to complete before validation.
    if (mailbox_.IsBusy())
        return;
    state_ = 8;
}

void FlashWriteSequence::SetUpRange()
{
    view_.AddLogLine("Enter Flashing Mode Done.");
    view_.AddLogLine("Flashing...");

    const uint32_t start = ReadAddressField(view_.AddressFieldText(AddressField::FlashStart));
    view_.AddLogLine("Flash Start Addr = 0x" + HexDigits(start, 6));
    const uint32_t end = ReadAddressField(view_.AddressFieldText(AddressField::FlashEnd));
    view_.AddLogLine("Flash End Addr = 0x" + HexDigits(end, 6));
    SetRange(start, end);

    // The block loop only ends on reaching the end block, and the buffer
    // holds blocks 0x0000..0x03FF: anything else would never end or would
    // send bytes from outside the image.
    const std::string refused = ", range refused: no block sent";
    if (startBlock_ >= endBlock_) {
        Refuse("Flash write: start block " + BlockText(startBlock_) + " is not below end block " +
               BlockText(endBlock_) + refused);
        return;
    }
    if (endBlock_ > ImageBufferBlocks) {
        Refuse("Flash write: end block " + BlockText(endBlock_) +
               " lies past the image buffer's last block 0x03FF" + refused);
        return;
    }
    // After a read the buffer holds the read range packed from index 0; only
    // blocks inside it can be sent from it.
    if (image_.HoldsRead) {
        const uint64_t first = uint64_t{startBlock_} << 8;
        const uint64_t last = uint64_t{endBlock_} << 8;
        const uint64_t dataEnd = uint64_t{image_.DataStart} + static_cast<uint64_t>(image_.ImageLength);
        if (first < image_.DataStart || last > dataEnd) {
            const std::string held =
                image_.ImageLength > 0
                    ? "the read data (0x" + HexDigits(image_.DataStart, 6) + " to 0x" +
                          HexDigits(static_cast<uint32_t>(dataEnd - 1), 6) + ")"
                    : "the read data (none)";
            Refuse("Flash write: " + BlockSpanText(startBlock_, endBlock_) + " not all in " + held +
                   refused);
            return;
        }
    }
    blocksTotal_ = endBlock_ - startBlock_;
    state_ = 6;
}

void FlashWriteSequence::SendBlocks()
{
    for (;;) {
        const uint32_t block = NextBlock();
        if (!mailbox_.WaitIdle(busyBound_)) {
            std::string line = "Flash write: block " + BlockText(block) + ": EC stayed busy for " +
                               BoundText(busyBound_) + ", flashing stopped; ";
            if (blocksDone_ > 0)
                line += BlockSpanText(startBlock_, block) + " sent, ";
            line += BlockSpanText(block, endBlock_) + " not sent, no validate or reset sent";
            view_.AddLogLine(line);
            Stop(SequenceOutcome::EcStayedBusy);
            return;
        }
        // The block before has completed; none follows a stop request.
        if (StopRequested()) {
            StopOnRequest();
            return;
        }
        const uint32_t address = NextAddress();
        view_.AddLogLine("FlashAddr = 0x" + HexDigits(address, 6));
        // The range was checked against the buffer in state 5.
        const uint32_t offset = image_.HoldsRead ? address - image_.DataStart : address;
        mailbox_.WriteBlock(static_cast<uint16_t>(block), image_.ImageBuffer.data() + offset);
        if (AdvanceToEnd()) {
            state_ = 7;
            return;
        }
    }
}

void FlashWriteSequence::OnCompleted()
{
    // The opposite of the wanted port: the monitor sends the selection again
    // at its next tick.
    ports_.Port1Selected = !view_.Port1Wanted();
}

} // namespace vyk::pd
