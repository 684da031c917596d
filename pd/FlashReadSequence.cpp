#include "pd/FlashReadSequence.h"

#include <algorithm>

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

FlashReadSequence::FlashReadSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports,
                                     SequenceView& view, std::chrono::steady_clock::duration busyBound)
    : FirmwareSequence(mailbox, image, ports, view, busyBound, SequenceTimer::Timer3,
                       {"Read Cypress PD FW Start", "Read Done.", "Read Cypess PD FW Completed!", "Read FW",
                        "nothing read", ", no data kept"})
{
}

void FlashReadSequence::TransferStep()
{
    if (state_ == 7) {
        FetchBlock();
        return;
    }
    if (mailbox_.IsBusy())
        return;
    mailbox_.RequestBlockRead(static_cast<uint16_t>(NextBlock()));
    state_ = 7;
}

void FlashReadSequence::SetUpRange()
{
    view_.AddLogLine("Enter Flashing Mode Done.");
    view_.AddLogLine("Reading...");

    const uint32_t start = ReadAddressField(view_.AddressFieldText(AddressField::ReadStart));
    view_.AddLogLine("Read Start Addr = 0x" + HexDigits(start, 6));
    const uint32_t end = ReadAddressField(view_.AddressFieldText(AddressField::ReadEnd));
    view_.AddLogLine("Read End Addr = 0x" + HexDigits(end, 6));
    SetRange(start, end);
    view_.AddLogLine("ReadCnt = 0x" + HexDigits(endBlock_, 6));

    // The fetch loop only ends on reaching the end block, and the flash (as
    // the buffer) ends with block 0x03FF: anything else would never end, or
    // would store what an EC leaves in the window for a block it does not
    // have, as if it had been read.
    const std::string refused = ", range refused: no block read";
    if (startBlock_ >= endBlock_) {
        Refuse("Read FW: start block " + BlockText(startBlock_) + " is not below end block " +
               BlockText(endBlock_) + refused);
        return;
    }
    if (endBlock_ > ImageBufferBlocks) {
        Refuse("Read FW: end block " + BlockText(endBlock_) + " lies past the flash's last block 0x03FF" + refused);
        return;
    }
    blocksTotal_ = endBlock_ - startBlock_;
    data_.clear();
    data_.reserve(size_t{blocksTotal_} * DataWindowSize);
    state_ = 6;
}

void FlashReadSequence::FetchBlock()
{
    const uint32_t block = NextBlock();
    if (!mailbox_.WaitIdle(busyBound_)) {
        std::string line = "Read FW: block " + BlockText(block) + ": EC stayed busy for " + BoundText(busyBound_) +
                           ", reading stopped, no data kept: ";
        if (blocksDone_ > 0)
            line += BlockSpanText(startBlock_, block) + " read (" + std::to_string(data_.size()) +
                    " Byte) and dropped, ";
        else
            line += "no block read, ";
        line += "the image in memory is as before; no validate or reset sent";
        view_.AddLogLine(line);
        Stop(SequenceOutcome::EcStayedBusy);
        return;
    }
    const uint32_t address = NextAddress();
    view_.AddLogLine("ReadAddr = 0x" + HexDigits(address, 6));
    // At most 1,024 blocks were let through in state 5.
    const size_t at = data_.size();
    data_.resize(at + DataWindowSize);
    mailbox_.FetchBlock(data_.data() + at);
    state_ = AdvanceToEnd() ? 8 : 6;
}

void FlashReadSequence::OnCompleted()
{
    // Only now does the read become the image: from index 0, with where it
    // came from. Bytes past it keep what they held.
    std::copy(data_.begin(), data_.end(), image_.ImageBuffer.begin());
    image_.ImageLength = static_cast<int32_t>(data_.size());
    image_.DataStart = startBlock_ << 8;
    image_.HoldsRead = true;
    std::vector<uint8_t>().swap(data_);
}

void FlashReadSequence::OnStoppedShort()
{
    std::vector<uint8_t>().swap(data_);
}

} // namespace vyk::pd
