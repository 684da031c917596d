#include "pd/FlashVerify.h"

#include <algorithm>

#include "pd/Advice.h"
#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

FlashComparison CompareFlash(const uint8_t* wrote, const uint8_t* got, uint32_t firstAddress, size_t length)
{
    FlashComparison c;
    c.blocks = static_cast<uint32_t>(length / DataWindowSize);
    for (size_t block = 0; block < length; block += DataWindowSize) {
        bool differs = false;
        for (size_t i = block; i < block + DataWindowSize && i < length; ++i) {
            if (wrote[i] == got[i])
                continue;
            if (c.differingBytes++ == 0) {
                c.firstAddress = firstAddress + static_cast<uint32_t>(i);
                c.wrote = wrote[i];
                c.got = got[i];
            }
            differs = true;
        }
        c.differingBlocks += differs ? 1 : 0;
    }
    return c;
}

BackupComparison CompareWithBackup(const uint8_t* now, const uint8_t* backup, const uint8_t* image, size_t length)
{
    BackupComparison c;
    if (std::equal(now, now + length, backup))
        return c;
    c.firstDiffering = static_cast<size_t>(std::mismatch(now, now + length, backup).first - now);
    c.found = std::equal(now, now + length, image) ? BackupComparison::Case::HoldsImage
                                                   : BackupComparison::Case::Interrupted;
    return c;
}

const uint8_t* SentBytes(const ImageStore& image, uint32_t address)
{
    return image.ImageBuffer.data() + (image.HoldsRead ? address - image.DataStart : address);
}

VerifySequence::VerifySequence(Mailbox& mailbox, ImageStore& readBack, const ImageStore& image,
                               PortSelection& ports, FrontEnd& front,
                               std::chrono::steady_clock::duration busyBound)
    : FlashReadSequence(mailbox, readBack, ports, front, busyBound,
                        {"Cypress PD FW Verify Start", "Read Back Done.", nullptr, "Verify", "nothing read back",
                         ", not verified", "CmdReadBlock", "the EC to be idle before CmdValidate"},
                        {"Reading back...", "Verify", nullptr, "the flash's last block 0x03FF",
                         ", range refused: not verified", "Verify"},
                        false),
      readBack_(readBack), sent_(image)
{
}

void VerifySequence::OnCompleted()
{
    FlashReadSequence::OnCompleted();
    const uint32_t first = startBlock_ << 8;
    const size_t length = size_t{endBlock_ - startBlock_} * DataWindowSize;
    result_ = CompareFlash(SentBytes(sent_, first), readBack_.ImageBuffer.data(), first, length);
    const std::string blocks = std::to_string(result_.blocks) + " blocks (" + BlockSpanText(startBlock_, endBlock_) + ")";
    if (result_.Matches()) {
        front_.AddStampedLogLine("Verify OK: the flash holds the image, all " + blocks + " read back and equal");
        return;
    }
    PdLeft left;
    left.port = PortNumber(front_.ChosenPort());
    front_.AddStampedLogLine("Verify FAILED: " + std::to_string(result_.differingBlocks) + " of " + blocks +
                            " differ from the image, the first at 0x" + HexDigits(result_.firstAddress, 6) +
                            " (flash 0x" + HexDigits(result_.got, 2) + ", image 0x" + HexDigits(result_.wrote, 2) +
                            "). " + WindowMismatchAdvice(left));
}

} // namespace vyk::pd
