#include <gtest/gtest.h>

#include <string>

#include "pd/FlashRange.h"

using namespace vyk::pd;

namespace {
bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
} // namespace

// Blocks run from the start's block up to, not including, the end's block;
// a text the field parse would misread, an empty range and one past the
// flash are refused, each as its own kind.
TEST(FlashRange, TextsGiveBlocksOrOneRefusal)
{
    struct Case {
        const char *start, *end;
        RangeRefusal refusal;
        uint32_t first, endAddress, blocks;
        const char* says;
    };
    const Case cases[] = {
        {"00C000", "01FF00", RangeRefusal::None, 0x00C000, 0x01FF00, 0x13F, nullptr},
        {"00C0FF", "00C1FF", RangeRefusal::None, 0x00C000, 0x00C100, 1, nullptr},
        {"0", "040000", RangeRefusal::None, 0, 0x040000, 0x400, nullptr},
        {"00c000", "01FF00", RangeRefusal::AddressText, 0, 0, 0, "lowercase"},
        {"00C000", "0x1FF00", RangeRefusal::AddressText, 0, 0, 0, "leave out the 0x"},
        {"00C000", "", RangeRefusal::AddressText, 0, 0, 0, "address is empty"},
        {"00C000", "00C0FF", RangeRefusal::Empty, 0, 0, 0,
         "range refused: the range runs from the start of --start's block, 0x00C000 (00C000), up to the start of "
         "--end's block, 0x00C000 (00C0FF), and holds no byte"},
        {"01FF00", "00C000", RangeRefusal::Empty, 0, 0, 0, "holds no byte"},
        {"00C000", "040100", RangeRefusal::PastFlash, 0, 0, 0,
         "range refused: --end 040100 reaches past the flash, which ends at 0x03FFFF (256 KiB); the range would "
         "run to 0x0400FF"},
    };
    for (const auto& c : cases) {
        const RangeReading r = ReadFlashRange(c.start, c.end);
        EXPECT_EQ(r.refusal, c.refusal) << c.start << ".." << c.end;
        if (c.refusal == RangeRefusal::None) {
            EXPECT_EQ(r.text, "");
            EXPECT_EQ(r.range.FirstAddress(), c.first);
            EXPECT_EQ(r.range.EndAddress(), c.endAddress);
            EXPECT_EQ(r.range.Blocks(), c.blocks);
        } else {
            EXPECT_TRUE(Has(r.text, c.says)) << r.text;
        }
    }
    // The typed addresses are kept as well as their blocks.
    EXPECT_EQ(ReadFlashRange("00C0FF", "01FF00").range.start, 0x00C0FFu);
    EXPECT_TRUE(Has(ReadFlashRange("1", "0", "Start", "End").text, "start of End's block"));
}

// A placement is a block start typed as an address; a saved read begins at
// its block, which the refusal names.
TEST(FlashRange, PlacementIsABlockStart)
{
    struct Case { const char* text; uint32_t imageAt; const char* refusal; };
    const Case cases[] = {
        {"00C000", 0x00C000, nullptr},
        {"0", 0, nullptr},
        {"03FF00", 0x03FF00, nullptr},
        {"00C080", 0, "--image-at 00C080 is not the start of a block; a file saved by 'read --start 00C080' begins "
                      "at its block, 00C000"},
        {"00c000", 0, "--image-at: address \"00c000\": lowercase"},
        {"1000000", 0, "--image-at: address \"1000000\" has more than six digits"},
    };
    for (const auto& c : cases) {
        const PlacementReading p = ReadImagePlacement(c.text);
        if (c.refusal) {
            EXPECT_TRUE(Has(p.refusal, c.refusal)) << p.refusal;
        } else {
            EXPECT_EQ(p.refusal, "") << c.text;
            EXPECT_EQ(p.imageAt, c.imageAt) << c.text;
        }
    }
}
