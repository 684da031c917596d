#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vyk::pd {

// A range of whole blocks as the window's two address fields give it: the
// addresses typed, and the blocks from the start's block up to, not
// including, the end's block.
struct FlashRange {
    uint32_t start = 0, end = 0;
    uint32_t startBlock = 0, endBlock = 0;
    uint32_t Blocks() const { return endBlock - startBlock; }
    uint32_t FirstAddress() const { return startBlock << 8; }
    uint32_t EndAddress() const { return endBlock << 8; }
};

// Why two address texts give no range to work on. AddressText: a text the
// field parse would read as something else than was typed; the others are
// ranges as parsed.
enum class RangeRefusal { None, AddressText, Empty, PastFlash };

struct RangeReading {
    FlashRange range;
    RangeRefusal refusal = RangeRefusal::None;
    std::string text;   // the refusal as said; empty when there is none
};

// The same parse as the window's fields, refused beforehand where it would
// quietly read something else than was meant, or where the range holds no
// byte or runs past the flash: an EC walked into flashing mode for that
// would do nothing. The refusals name the texts as `startName` and
// `endName` ("--start").
RangeReading ReadFlashRange(std::string_view startText, std::string_view endText,
                            std::string_view startName = "--start", std::string_view endName = "--end");

// Where a file's first byte goes in the flash, typed as an address.
struct PlacementReading {
    uint32_t imageAt = 0;
    std::string refusal;   // empty when the text names a block start
};

// `text` must read as typed and name the start of a block, where a saved
// read begins; `name` is what the refusal calls it ("--image-at").
PlacementReading ReadImagePlacement(std::string_view text, std::string_view name = "--image-at");

} // namespace vyk::pd
