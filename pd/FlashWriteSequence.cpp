#include "pd/FlashWriteSequence.h"

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

FlashWriteSequence::FlashWriteSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports,
                                       SequenceView& view, std::chrono::steady_clock::duration busyBound)
    : mailbox_(mailbox), image_(image), ports_(ports), view_(view), busyBound_(busyBound)
{
}

void FlashWriteSequence::Button2Click()
{
    view_.SetSequenceControlsEnabled(false);
    view_.SetTimerEnabled(SequenceTimer::Timer2, true);
    state_ = 1;
    ports_.SequenceRunning = true;
    outcome_ = SequenceOutcome::Running;
    select_.Reset();
    blocksDone_ = 0;
    blocksTotal_ = 0;
}

void FlashWriteSequence::Timer2Timer()
{
    switch (state_) {
    case 1:
        if (!select_.Ready(mailbox_, ports_, view_))
            return;
        view_.AddStampedLogLine("Cypress PD FW Flash Start");
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
        SendBlocks();
        return;
    case 7:
        // The last block's write has to complete before validation.
        if (mailbox_.IsBusy())
            return;
        state_ = 8;
        return;
    case 8:
        if (mailbox_.IsBusy())
            return;
        view_.AddLogLine("Flash Done.");
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

void FlashWriteSequence::SetUpRange()
{
    view_.AddLogLine("Enter Flashing Mode Done.");
    view_.AddLogLine("Flashing...");

    const uint32_t start = ReadAddressField(view_.AddressFieldText(AddressField::FlashStart));
    view_.AddLogLine("Flash Start Addr = 0x" + HexDigits(start, 6));
    blockHigh_ = (start >> 16) & 0xFF;
    blockMid_ = (start >> 8) & 0xFF;
    startBlock_ = BlockOf(start);

    const uint32_t end = ReadAddressField(view_.AddressFieldText(AddressField::FlashEnd));
    view_.AddLogLine("Flash End Addr = 0x" + HexDigits(end, 6));
    endBlock_ = BlockOf(end);

    // The block loop only ends on reaching the end block, and the buffer
    // holds blocks 0x0000..0x03FF: anything else would never end or would
    // send bytes from outside the image.
    const std::string refused = ", range refused: no block sent, no validate or reset sent";
    if (startBlock_ >= endBlock_) {
        view_.AddLogLine("Flash write: start block " + BlockText(startBlock_) + " is not below end block " +
                         BlockText(endBlock_) + refused);
        Stop(SequenceOutcome::RangeRefused);
        return;
    }
    if (endBlock_ > ImageBufferBlocks) {
        view_.AddLogLine("Flash write: end block " + BlockText(endBlock_) +
                         " lies past the image buffer's last block 0x03FF" + refused);
        Stop(SequenceOutcome::RangeRefused);
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
            view_.AddLogLine("Flash write: " + BlockSpanText(startBlock_, endBlock_) + " not all in " + held +
                             refused);
            Stop(SequenceOutcome::RangeRefused);
            return;
        }
    }
    blocksTotal_ = endBlock_ - startBlock_;
    state_ = 6;
}

void FlashWriteSequence::SendBlocks()
{
    for (;;) {
        const uint32_t block = ((blockHigh_ & 0xFF) << 8) | blockMid_;
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
        const uint32_t address = blockHigh_ * 65536 + blockMid_ * 256;
        view_.AddLogLine("FlashAddr = 0x" + HexDigits(address, 6));
        // The range was checked against the buffer in state 5.
        const uint32_t offset = image_.HoldsRead ? address - image_.DataStart : address;
        mailbox_.WriteBlock(static_cast<uint16_t>(block), image_.ImageBuffer.data() + offset);
        ++blocksDone_;

        if (++blockMid_ == 256) {
            blockMid_ = 0;
            ++blockHigh_;
        }
        if ((blockHigh_ & 0xFF) == ((endBlock_ >> 8) & 0xFF) && blockMid_ == (endBlock_ & 0xFF)) {
            state_ = 7;
            return;
        }
    }
}

void FlashWriteSequence::Complete()
{
    view_.AddLogLine("Reset PD Register Done");
    // The opposite of the wanted port: the monitor sends the selection again
    // at its next tick.
    ports_.Port1Selected = !view_.Port1Wanted();
    view_.AddStampedLogLine("Cypess PD FW Update Completed!");
    Stop(SequenceOutcome::Completed);
}

void FlashWriteSequence::Stop(SequenceOutcome outcome)
{
    state_ = 0;
    view_.SetTimerEnabled(SequenceTimer::Timer2, false);
    view_.SetSequenceControlsEnabled(true);
    ports_.SequenceRunning = false;
    outcome_ = outcome;
}

} // namespace vyk::pd
