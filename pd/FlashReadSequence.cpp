#include "pd/FlashReadSequence.h"

#include <algorithm>

#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

FlashReadSequence::FlashReadSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports,
                                     FrontEnd& front, std::chrono::steady_clock::duration busyBound)
    : FirmwareSequence(mailbox, image, ports, front, busyBound, SequenceKind::Read,
                       {"Read Cypress PD FW Start", "Read Done.", "Read Cypess PD FW Completed!", "Read FW",
                        "nothing read", ", no data kept", "CmdReadBlock", "the EC to be idle before CmdValidate"},
                       {"Reading...", "Read", "ReadCnt = 0x", "the flash's last block 0x03FF",
                        ", range refused: no block read", "Read FW"})
{
}

FlashReadSequence::FlashReadSequence(Mailbox& mailbox, ImageStore& store, PortSelection& ports, FrontEnd& front,
                                     std::chrono::steady_clock::duration busyBound, Texts texts,
                                     RangeTexts rangeTexts, bool blockLines)
    : FirmwareSequence(mailbox, store, ports, front, busyBound, SequenceKind::ReadBack, texts, rangeTexts),
      blockLines_(blockLines)
{
}

void FlashReadSequence::TransferStep()
{
    if (state_ == SequenceState::FinishBlock) {
        FetchBlock();
        return;
    }
    if (mailbox_.IsBusy())
        return;
    mailbox_.RequestBlockRead(static_cast<uint16_t>(NextBlock()));
    state_ = SequenceState::FinishBlock;
}

bool FlashReadSequence::AcceptRange()
{
    data_.clear();
    data_.reserve(size_t{endBlock_ - startBlock_} * DataWindowSize);
    return true;
}

void FlashReadSequence::FetchBlock()
{
    const uint32_t block = NextBlock();
    if (!mailbox_.WaitIdle(busyBound_)) {
        // Named for the run it is: a read-back after "Flash Go" is no "Read FW".
        std::string line = std::string(Name()) + ": block " + BlockText(block) + ": EC stayed busy for " +
                           BoundText(busyBound_) + ", reading stopped, no data kept: ";
        if (blocksDone_ > 0)
            line += BlockSpanText(startBlock_, block) + " read (" + std::to_string(data_.size()) +
                    " Byte) and dropped, ";
        else
            line += "no block read, ";
        line += "the image in memory is as before; no validate or reset sent";
        front_.AddLogLine(line);
        Stop(SequenceOutcome::EcStayedBusy);
        return;
    }
    const uint32_t address = NextAddress();
    if (blockLines_)
        front_.AddLogLine("ReadAddr = 0x" + HexDigits(address, 6));
    // At most 1,024 blocks were let through in SetUpRange.
    const size_t at = data_.size();
    data_.resize(at + DataWindowSize);
    mailbox_.FetchBlock(data_.data() + at);
    if (AdvanceToEnd()) {
        state_ = SequenceState::Validate;
        return;
    }
    if (!blockLines_ && !StopRequested()) {
        // The read-back asks for the next block at once: the EC reads it
        // while the window waits for the next tick, one block per tick. Not
        // once a stop is asked for: it would always find a block in flight.
        mailbox_.RequestBlockRead(static_cast<uint16_t>(NextBlock()));
        return;
    }
    state_ = SequenceState::SendBlock;
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
