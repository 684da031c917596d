#include "pd/FlashWriteSequence.h"

#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

FlashWriteSequence::FlashWriteSequence(Mailbox& mailbox, ImageStore& image, PortSelection& ports,
                                       FrontEnd& front, std::chrono::steady_clock::duration busyBound)
    : FirmwareSequence(mailbox, image, ports, front, busyBound, SequenceKind::Write,
                       {"Cypress PD FW Flash Start", "Flash Done.", "Cypess PD FW Update Completed!", "Flash write",
                        "nothing flashed", "", "the last CmdWriteBlock", "the last CmdWriteBlock"},
                       {"Flashing...", "Flash", nullptr, "the image buffer's last block 0x03FF",
                        ", range refused: no block sent", "Flash Go"})
{
}

void FlashWriteSequence::TransferStep()
{
    if (state_ == SequenceState::SendBlock) {
        SendBlocks();
        return;
    }
    // FinishBlock: the last block's write has to complete before validation.
    if (mailbox_.IsBusy())
        return;
    state_ = SequenceState::Validate;
}

bool FlashWriteSequence::AcceptRange()
{
    // After a read the buffer holds the read range packed from index 0; only
    // blocks inside it can be sent from it.
    if (!image_.HoldsRead)
        return true;
    const uint64_t first = uint64_t{startBlock_} << 8;
    const uint64_t last = uint64_t{endBlock_} << 8;
    const uint64_t dataEnd = uint64_t{image_.DataStart} + static_cast<uint64_t>(image_.ImageLength);
    if (first >= image_.DataStart && last <= dataEnd)
        return true;
    const std::string held = image_.ImageLength > 0 ? "the read data (0x" + HexDigits(image_.DataStart, 6) + " to 0x" +
                                                          HexDigits(static_cast<uint32_t>(dataEnd - 1), 6) + ")"
                                                    : "the read data (none)";
    Refuse("Flash write: " + BlockSpanText(startBlock_, endBlock_) + " not all in " + held +
           ", range refused: no block sent");
    return false;
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
            front_.AddLogLine(line);
            Stop(SequenceOutcome::EcStayedBusy);
            return;
        }
        // The block before has completed; none follows a stop request.
        if (StopRequested()) {
            StopOnRequest();
            return;
        }
        const uint32_t address = NextAddress();
        front_.AddLogLine("FlashAddr = 0x" + HexDigits(address, 6));
        // The range was checked against the buffer in SetUpRange.
        const uint32_t offset = image_.HoldsRead ? address - image_.DataStart : address;
        mailbox_.WriteBlock(static_cast<uint16_t>(block), image_.ImageBuffer.data() + offset);
        if (AdvanceToEnd()) {
            state_ = SequenceState::FinishBlock;
            return;
        }
    }
}

void FlashWriteSequence::OnCompleted()
{
    // The opposite of the wanted port: the monitor sends the selection again
    // at its next tick.
    ports_.Port1Selected = front_.ChosenPort() != PdPort::Port1;
}

} // namespace vyk::pd
