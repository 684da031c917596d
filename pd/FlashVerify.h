#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "pd/FlashReadSequence.h"

namespace vyk::pd {

// What a read-back of a flashed range shows against the bytes sent.
struct FlashComparison {
    uint32_t blocks = 0;            // blocks compared
    uint32_t differingBlocks = 0;
    size_t differingBytes = 0;
    uint32_t firstAddress = 0;      // flash address of the first differing byte
    uint8_t wrote = 0, got = 0;     // the image's and the flash's byte there
    bool Matches() const { return differingBytes == 0; }
};

// `wrote` and `got` hold `length` bytes from flash address `firstAddress`
// (a whole number of blocks).
FlashComparison CompareFlash(const uint8_t* wrote, const uint8_t* got, uint32_t firstAddress, size_t length);

// A rerun of a flash whose backup exists: what the range holds now, against
// the backup and against the image.
struct BackupComparison {
    enum class Case {
        MatchesBackup,   // the backup holds this firmware and stays the backup
        HoldsImage,      // an earlier flash of the image completed
        Interrupted,     // neither: a flash stopped half way, the backup is the only whole firmware
    };
    Case found = Case::MatchesBackup;
    size_t firstDiffering = 0;   // offset in the range of the first byte unlike the backup's
};

// `now`, `backup` and `image` hold `length` bytes of the range each.
BackupComparison CompareWithBackup(const uint8_t* now, const uint8_t* backup, const uint8_t* image, size_t length);

// The bytes a flash write sends for the block at `address`, as it takes
// them from the image in memory (a file by flash address, a read from its
// first block).
const uint8_t* SentBytes(const ImageStore& image, uint32_t address);

// The read-back that follows "Flash Go": the flashed range read into a
// store of its own at the read's pace, without a line per block, and
// compared with the image; one line tells the result. It ends as a read
// does (validate, reset), so the PD runs its firmware after it.
class VerifySequence : public FlashReadSequence {
public:
    VerifySequence(Mailbox& mailbox, ImageStore& readBack, const ImageStore& image, PortSelection& ports,
                   FrontEnd& front, std::chrono::steady_clock::duration busyBound = BusySpinLimit);

    // Set when a read-back completed.
    const FlashComparison& Result() const { return result_; }
    bool Verified() const { return Outcome() == SequenceOutcome::Completed && result_.Matches(); }

private:
    void OnCompleted() override;

    ImageStore& readBack_;
    const ImageStore& sent_;
    FlashComparison result_;
};

} // namespace vyk::pd
