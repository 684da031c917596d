#include <gtest/gtest.h>

#include <string>

#include "pd/ImageRules.h"

using namespace vyk::pd;

namespace {
bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
} // namespace

// Printable text and hex records are not firmware; binary that merely
// starts with a marker byte, or holds a few printable bytes, is.
TEST(ImageRules, TextIsToldFromFirmware)
{
    struct Case { std::string bytes; const char* look; };
    const Case cases[] = {
        {":10C00000FFFFFFFF\r\n:00000001FF\r\n", "Intel HEX"},
        {"@C000\n12 34 56\nq\n", "TI-TXT"},
        {"S00F000068656C6C6F\n", "Motorola"},
        {"hello firmware\n\tindented\r\n", "all 26 bytes are printable ASCII"},
        {"@0001C000\r\n12\r\n", "TI-TXT"},
        {std::string(":\xFF\x00\x12", 4), nullptr},          // a marker byte, then binary
        {std::string("@1\x00\x9C", 4), nullptr},             // '@' and a hex digit by chance
        {std::string("@123456789\n\x00", 12), nullptr},       // no address line: nine digits
        {std::string("ABC\x00", 4), nullptr},
        {std::string("\xFF\xFF\xFF", 3), nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const std::string look =
            TextImageLook(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
        if (c.look)
            EXPECT_TRUE(Has(look, c.look)) << c.bytes << " -> " << look;
        else
            EXPECT_EQ(look, "") << c.bytes;
    }
}

// The advice names the range the file covers, and padding as what erases.
TEST(ImageRules, ShortImageAdviceNamesTheCoveredRange)
{
    struct Case {
        uint32_t imageAt; uint64_t size; uint32_t first, end;
        bool isShort; uint32_t padded; const char* advice;
    };
    const Case cases[] = {
        {0x00C000, 0x1000, 0x00C000, 0x01FF00, true, 303,
         "--start 00C000 --end 00D000"},
        {0x00C000, 0x1001, 0x00C000, 0x01FF00, true, 302, "--start 00C000 --end 00D100 (its last block"},
        {0, 0x10000, 0x00C000, 0x01FF00, true, 255, "--start 00C000 --end 010000"},
        {0x00C000, 0x13F00, 0x00C000, 0x01FF00, false, 0, nullptr},   // whole range
        {0x00C000, 0x20000, 0x00C000, 0x01FF00, false, 0, nullptr},   // longer
        {0, 0x100, 0x00C000, 0x01FF00, false, 0, nullptr},           // nothing in the range: refused elsewhere
    };
    for (const auto& c : cases) {
        const ShortImage image = ShortImageOf(c.imageAt, c.size, c.first, c.end);
        EXPECT_EQ(image.isShort, c.isShort) << c.size;
        if (!c.isShort)
            continue;
        EXPECT_EQ(image.paddedBlocks, c.padded) << c.size;
        const std::string advice = ShortImageAdvice(image, c.first, c.end, "--allow-short");
        EXPECT_TRUE(Has(advice, c.advice)) << advice;
        EXPECT_TRUE(Has(advice, "--allow-short would instead write the other " + std::to_string(c.padded) +
                                    " blocks")) << advice;
        EXPECT_TRUE(Has(advice, "erases")) << advice;
        EXPECT_TRUE(Has(PaddingText(image, c.end), std::to_string(c.padded) + " blocks")) << c.size;
        EXPECT_TRUE(Has(PaddingText(image, c.end), "written as 0xFF padding")) << c.size;
    }
    EXPECT_EQ(AddressRangeText(0x00C000, 0x01FF00), "0x00C000..0x01FEFF");
    // Only the tail of the last block padded: no "0 blocks".
    EXPECT_EQ(PaddingText(ShortImageOf(0, 0x3FF40, 0x03FD00, 0x040000), 0x040000),
              "the last 192 bytes of block 0x03FF00..0x03FFFF written as 0xFF padding");
}

// Below the default start a flash needs asking for; a start typed as a
// block number is shown the address it meant.
TEST(ImageRules, LowRangeIsRefusedWithTheAddressMeant)
{
    struct Case { uint32_t first, end; const char* start; const char* says; };
    const Case cases[] = {
        {0x000000, 0x01FF00, "C0", "block C0 starts at 0x00C000 (--start 00C000)"},
        {0x000000, 0x000100, "C0", "the range 0x000000..0x0000FF starts below 0x00C000"},
        {0x00BF00, 0x01FF00, "00BF00", "boot code"},
        {0x000000, 0x01FF00, "0", "may hold"},
        {0x00C000, 0x01FF00, "00C000", nullptr},
        {0x00C000, 0x01FF00, "C000", nullptr},
    };
    for (const auto& c : cases) {
        const std::string problem = LowRangeProblem(c.first, c.end, c.start);
        if (c.says)
            EXPECT_TRUE(Has(problem, c.says)) << problem;
        else
            EXPECT_EQ(problem, "") << c.start;
    }
    EXPECT_FALSE(Has(LowRangeProblem(0, 0x100, "0"), "block 0 starts"));
}

// Where a file lies against the range decides: refused, flashed whole, or
// padded when asked for. Each refusal says why in its own words.
TEST(ImageRules, FitOfAFileOverTheRange)
{
    const FlashRange range = ReadFlashRange("00C000", "01FF00").range;
    struct Case {
        uint32_t imageAt; uint64_t size; bool given, allowShort;
        const char* refusal; uint32_t padded;
    };
    const Case cases[] = {
        {0, 0x40000, false, false, nullptr, 0},
        {0x00C000, 0x13F00, true, false, nullptr, 0},
        {0x00D000, 0x13F00, true, false, "begins at flash address 0x00D000 (--image-at), after the range's start", 0},
        {0, 0xC000, false, false, "ends at 0x00C000, before the range's start: not one byte of it lies in the range "
                                  "0x00C000..0x01FEFF, which would be written as 0xFF alone; refused, with "
                                  "--allow-short too", 0},
        {0, 0xC000, false, true, "not one byte of it lies in the range", 0},
        {0, 0, false, true, "f.bin is empty: not one byte", 0},
        {0, 0x13F00, false, false, "exactly the length of the range 0x00C000..0x01FEFF: a file saved by 'read' "
                                   "holds the range alone, from its start. Flash it back with --image-at 00C000", 0},
        {0, 0xD000, false, false, "ends at 0x00D000, before the range's end 0x01FF00: it covers", 0},
        {0, 0xD000, false, false, "(An image is indexed by flash address from 0 unless --image-at", 0},
        {0, 0x1FEF0, false, true, nullptr, 0},
        {0, 0xD000, false, true, nullptr, 303},
    };
    for (const auto& c : cases) {
        const ImageFit fit = FitImage({"f.bin", c.size, c.imageAt, c.given}, range, c.allowShort);
        if (c.refusal) {
            EXPECT_TRUE(Has(fit.refusal, "image file f.bin")) << fit.refusal;
            EXPECT_TRUE(Has(fit.refusal, c.refusal)) << fit.refusal;
            continue;
        }
        EXPECT_EQ(fit.refusal, "") << c.size;
        EXPECT_EQ(fit.padding.empty(), !fit.shortImage.isShort) << c.size;
        EXPECT_EQ(fit.shortImage.paddedBlocks, c.padded) << c.size;
    }
    // The hint on placement only where none was given.
    EXPECT_FALSE(Has(FitImage({"f.bin", 0x1000, 0x00C000, true}, range, false).refusal, "(An image is indexed"));
    EXPECT_EQ(FitImage({"f.bin", 0xD000, 0, false}, range, true).note,
              "image file f.bin ends at 0x00D000, before the range's end 0x01FF00: 303 blocks (0x00D000..0x01FEFF) "
              "written as 0xFF padding (--allow-short)");
}

// Past the buffer, or text instead of raw bytes: refused before the range
// is looked at.
TEST(ImageRules, FileRefusedForSizeOrText)
{
    EXPECT_EQ(ImageSizeProblem("f", 0x40002, 0), "");
    EXPECT_EQ(ImageSizeProblem("f", 0x34002, 0x00C000), "");
    EXPECT_EQ(ImageSizeProblem("f", 0x34003, 0x00C000),
              "image file f holds 212995 bytes; placed at 0x00C000 it would end at 0x040003, past the 262146 bytes "
              "the image buffer takes");
    const std::string hex = ":10C00000FFFF\n";
    const std::string refusal = TextImageRefusal("h.hex", reinterpret_cast<const uint8_t*>(hex.data()), hex.size());
    EXPECT_TRUE(Has(refusal, "image file h.hex is an Intel HEX text file")) << refusal;
    EXPECT_TRUE(Has(refusal, "; convert it to a raw image first")) << refusal;
    const uint8_t raw[] = {0xFF, 0x00, 0x12};
    EXPECT_EQ(TextImageRefusal("r.bin", raw, sizeof raw), "");
}
