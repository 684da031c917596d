#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pd/FlashVerify.h"
#include "pd/ImageBuffer.h"
#include "pd/ImageRecord.h"

using namespace vyk::pd;

namespace {
bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
} // namespace

// A file saved by a read goes back where its first byte was read from, 0xFF
// below it; its length stays the file's.
TEST(SavedRead, PlacedWhereItsFirstByteBelongs)
{
    // Placed a block up, over itself: its second half must not be
    // overwritten by its first on the way.
    auto store = std::make_unique<ImageStore>();
    for (int i = 0; i < 0x200; ++i)
        store->ImageBuffer[i] = i < 0x100 ? 0xA0 : 0xB0;
    store->ImageLength = 0x200;
    PlaceImage(*store, 0x100);
    EXPECT_EQ(store->ImageLength, 0x200);
    const std::pair<int, uint8_t> expected[] = {{0, 0xFF}, {0x0FF, 0xFF}, {0x100, 0xA0}, {0x1FF, 0xA0},
                                                {0x200, 0xB0}, {0x2FF, 0xB0}, {0x300, 0x00}};
    for (const auto& [at, byte] : expected)
        EXPECT_EQ(store->ImageBuffer[at], byte) << at;
    PlaceImage(*store, 0);
    EXPECT_EQ(store->ImageBuffer[0x100], 0xA0);
}

// A rerun over an existing backup: the range as backed up, as flashed, or
// neither (interrupted), with where it first differs from the backup.
TEST(SavedRead, RangeComparedWithBackupAndImage)
{
    using Case = BackupComparison::Case;
    const std::vector<uint8_t> backup(512, 0x11), image(512, 0x22);
    std::vector<uint8_t> half = image;
    std::fill(half.begin() + 256, half.end(), uint8_t{0x11});
    std::vector<uint8_t> late = backup;
    late[511] = 0;
    struct Row { const std::vector<uint8_t>* now; Case found; size_t first; };
    const Row rows[] = {
        {&backup, Case::MatchesBackup, 0},
        {&image, Case::HoldsImage, 0},
        {&half, Case::Interrupted, 0},
        {&late, Case::Interrupted, 511},
    };
    for (const auto& r : rows) {
        const BackupComparison c = CompareWithBackup(r.now->data(), backup.data(), image.data(), 512);
        EXPECT_EQ(c.found, r.found) << r.first;
        if (c.found == Case::Interrupted)
            EXPECT_EQ(c.firstDiffering, r.first);
    }
    // An image equal to the backup: nothing to flash, the backup kept.
    EXPECT_EQ(CompareWithBackup(backup.data(), backup.data(), backup.data(), 512).found, Case::MatchesBackup);
}

// Each way a record contradicts the flash is one problem naming the record;
// a serial unknown on either side is no contradiction.
TEST(SavedRead, RecordProblemsNameWhatDiffers)
{
    const Provenance saved{.port = 1, .start = "00C000", .serial = "S1", .time = "t", .sha256 = "ab"};
    const ImageUse same{.sha256 = "ab", .imageAt = 0x00C000, .port = 1, .serial = "S1"};
    struct Row { ImageUse use; const char* says; };
    ImageUse sha = same, at0 = same, port2 = same, other = same, unknown = same;
    sha.sha256 = "cd";
    at0.imageAt = 0;
    port2.port = 2;
    other.serial = "S2";
    unknown.serial = "";
    const Row rows[] = {
        {same, nullptr},
        {unknown, nullptr},
        {sha, "it does not match its record r.json: its SHA-256 is cd, the record's ab (saved t)"},
        {at0, "this flash places it at 0x000000: give --image-at 00C000"},
        {port2, "it was read from port 1 (r.json); this flash is to port 2"},
        {other, "serial S1 (r.json); this notebook's serial is S2"},
    };
    for (const auto& r : rows) {
        const std::vector<std::string> problems = ImageRecordProblems(saved, "r.json", r.use);
        if (!r.says) {
            EXPECT_TRUE(problems.empty()) << problems.front();
            continue;
        }
        ASSERT_EQ(problems.size(), 1u) << r.says;
        EXPECT_TRUE(Has(problems[0], r.says)) << problems[0];
    }
    ImageUse all = sha;
    all.imageAt = 0, all.port = 2, all.serial = "S2";
    EXPECT_EQ(ImageRecordProblems(saved, "r.json", all).size(), 4u);
}
