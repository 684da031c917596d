#include "pd/FlashReadSequence.h"

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

FlashReadSequence::FlashReadSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports,
                                     SequenceView& view, std::chrono::steady_clock::duration busyBound)
    : mailbox_(mailbox), image_(image), ports_(ports), view_(view), busyBound_(busyBound)
{
}

void FlashReadSequence::Button3Click()
{
    view_.SetSequenceControlsEnabled(false);
    view_.SetTimerEnabled(SequenceTimer::Timer3, true);
    state_ = 1;
    ports_.SequenceRunning = true;
    outcome_ = SequenceOutcome::Running;
    select_.Reset();
    blocksDone_ = 0;
    blocksTotal_ = 0;
}

void FlashReadSequence::Timer3Timer()
{
    switch (state_) {
    case 1:
        if (!select_.Ready(mailbox_, ports_, view_))
            return;
        view_.AddStampedLogLine("Read Cypress PD FW Start");
        mailbox_.FillWindow();
        view_.ScrollLogLineDown();
        state_ = 2;
        return;
    case 2:
        if (mailbox_.IsBusy())
            return;
        mailbox_.IssueCommand(CmdInit);
        state_ = 3;
        return;
    case 3:
        if (mailbox_.IsBusy())
            return;
        mailbox_.IssueCommand(CmdJumpBoot);
        state_ = 4;
        return;
    case 4:
        if (mailbox_.IsBusy())
            return;
        view_.AddLogLine("Jump To Boot Mode Done.");
        mailbox_.IssueCommand(CmdEnterFlash);
        state_ = 5;
        return;
    case 5:
        if (mailbox_.IsBusy())
            return;
        SetUpRange();
        return;
    case 6:
        if (mailbox_.IsBusy())
            return;
        mailbox_.RequestBlockRead(static_cast<uint16_t>(((blockHigh_ & 0xFF) << 8) | blockMid_));
        state_ = 7;
        return;
    case 7:
        FetchBlock();
        return;
    case 8:
        if (mailbox_.IsBusy())
            return;
        view_.AddLogLine("Read Done.");
        mailbox_.IssueCommand(CmdValidate);
        state_ = 9;
        return;
    case 9:
        if (mailbox_.IsBusy())
            return;
        view_.AddLogLine("Request The New Firmware To Be Validated Done");
        mailbox_.IssueCommand(CmdResetPd);
        state_ = 10;
        return;
    case 10:
        Complete();
        return;
    default:
        return;
    }
}

void FlashReadSequence::SetUpRange()
{
    view_.AddLogLine("Enter Flashing Mode Done.");
    view_.AddLogLine("Reading...");

    const uint32_t start = ReadAddressField(view_.AddressFieldText(AddressField::ReadStart));
    view_.AddLogLine("Read Start Addr = 0x" + HexDigits(start, 6));
    blockHigh_ = (start >> 16) & 0xFF;
    blockMid_ = (start >> 8) & 0xFF;
    startBlock_ = BlockOf(start);

    const uint32_t end = ReadAddressField(view_.AddressFieldText(AddressField::ReadEnd));
    view_.AddLogLine("Read End Addr = 0x" + HexDigits(end, 6));
    endBlock_ = BlockOf(end);
    view_.AddLogLine("ReadCnt = 0x" + HexDigits(endBlock_, 6));

    // The fetch loop only ends on reaching the end block, and the buffer
    // takes 1,024 blocks: anything else would never end or would store
    // bytes past the buffer.
    const std::string refused = ", range refused: no block read, no validate or reset sent";
    if (startBlock_ >= endBlock_) {
        view_.AddLogLine("Read FW: start block " + BlockText(startBlock_) + " is not below end block " +
                         BlockText(endBlock_) + refused);
        Stop(SequenceOutcome::RangeRefused);
        return;
    }
    if (endBlock_ - startBlock_ > ImageBufferBlocks) {
        view_.AddLogLine("Read FW: " + std::to_string(endBlock_ - startBlock_) + " blocks from " +
                         BlockText(startBlock_) + " exceed the image buffer's 1024" + refused);
        Stop(SequenceOutcome::RangeRefused);
        return;
    }
    blocksTotal_ = endBlock_ - startBlock_;
    image_.ImageLength = 0;
    // The blocks go to the buffer from index 0: remember where they came from.
    image_.DataStart = startBlock_ << 8;
    image_.HoldsRead = true;
    state_ = 6;
}

void FlashReadSequence::FetchBlock()
{
    const uint32_t block = ((blockHigh_ & 0xFF) << 8) | blockMid_;
    if (!mailbox_.WaitIdle(busyBound_)) {
        std::string line = "Read FW: block " + BlockText(block) + ": EC stayed busy for " + BoundText(busyBound_) +
                           ", reading stopped; ";
        if (blocksDone_ > 0)
            line += BlockSpanText(startBlock_, block) + " read (" + std::to_string(image_.ImageLength) + " Byte), ";
        else
            line += "no block read, ";
        line += "no validate or reset sent";
        view_.AddLogLine(line);
        Stop(SequenceOutcome::EcStayedBusy);
        return;
    }
    const uint32_t address = blockHigh_ * 65536 + blockMid_ * 256;
    view_.AddLogLine("ReadAddr = 0x" + HexDigits(address, 6));
    // At most 1,024 blocks were let through in state 5.
    mailbox_.FetchBlock(image_.ImageBuffer.data() + image_.ImageLength);
    image_.ImageLength += 256;
    ++blocksDone_;

    if (++blockMid_ == 256) {
        blockMid_ = 0;
        ++blockHigh_;
    }
    if ((blockHigh_ & 0xFF) == ((endBlock_ >> 8) & 0xFF) && blockMid_ == (endBlock_ & 0xFF))
        state_ = 8;
    else
        state_ = 6;
}

void FlashReadSequence::Complete()
{
    view_.AddLogLine("Reset PD Register Done");
    view_.AddStampedLogLine("Read Cypess PD FW Completed!");
    Stop(SequenceOutcome::Completed);
}

void FlashReadSequence::Stop(SequenceOutcome outcome)
{
    state_ = 0;
    view_.SetTimerEnabled(SequenceTimer::Timer3, false);
    view_.SetSequenceControlsEnabled(true);
    ports_.SequenceRunning = false;
    outcome_ = outcome;
}

} // namespace vyk::pd
