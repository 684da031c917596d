#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pd/FlashRange.h"

namespace vyk::pd {

// What an image and a flash range must be before a flash may start, shared
// by the window and vykuu. Each rule returns what it found; a front end
// words the refusal and the option that overrides it.

// The window's default start. Below it lies flash that no default range
// touches and that may hold the controller's boot code.
inline constexpr uint32_t LowestDefaultAddress = 0x00C000;

// "0x00C000..0x01FEFF": the flash addresses from `first` up to, not
// including, `end`; how every message names a range.
std::string AddressRangeText(uint32_t first, uint32_t end);

// A range of blocks that starts below LowestDefaultAddress. Reading there
// is harmless; writing there is refused unless asked for by name.
inline constexpr bool StartsBelowDefault(uint32_t firstAddress) { return firstAddress < LowestDefaultAddress; }

// Why a flash from `firstAddress` to `endAddress` is refused ("the range
// 0x000000..0x01FEFF starts below 0x00C000, ..."), with a hint when the
// start text reads like a block number ("C0" for block 0x00C0); empty when
// the range starts at or above LowestDefaultAddress.
std::string LowRangeProblem(uint32_t firstAddress, uint32_t endAddress, std::string_view startText);

// What a file that is text rather than raw firmware looks like ("an Intel
// HEX file: it starts with \":10C00000\""); empty for anything else. Text
// means printable ASCII and line breaks throughout, or a start with a hex
// record marker (':' Intel HEX, '@' TI-TXT, 'S0'..'S9' Motorola) followed by
// hex digits.
std::string TextImageLook(const uint8_t* data, size_t size);

// An image placed at `imageAt` with `size` bytes, over the blocks from
// `rangeFirst` up to `rangeEnd` (both block starts).
struct ShortImage {
    bool isShort = false;         // ends after the range's start and before its end
    uint32_t imageEnd = 0;        // flash address after its last byte
    uint32_t coveredEnd = 0;      // imageEnd rounded up to a block start: the --end that flashes it alone
    uint32_t paddedBlocks = 0;    // blocks of the range that would go out as 0xFF alone
    uint32_t partialBytes = 0;    // bytes of the file in its last block, when that block is not whole
};
ShortImage ShortImageOf(uint32_t imageAt, uint64_t size, uint32_t rangeFirst, uint32_t rangeEnd);

// The refusal of a short image: the range it covers as the way to flash it
// ("--start 00C000 --end 00D000"), and what padding would erase.
// `padOption` names what pads anyway ("--allow-short").
std::string ShortImageAdvice(const ShortImage& image, uint32_t rangeFirst, uint32_t rangeEnd,
                             std::string_view padOption);

// What a flash with padding says about it: "303 blocks (0x00D000..0x01FEFF)
// written as 0xFF padding"; empty when nothing was padded.
std::string PaddingText(const ShortImage& image, uint32_t rangeEnd);

// The refusal of a file of `size` bytes whose first byte goes to `imageAt`
// and whose end would lie past the image buffer; empty when it fits.
std::string ImageSizeProblem(std::string_view path, uint64_t size, uint32_t imageAt);

// The refusal of a file that is text rather than raw firmware (TextImageLook
// of its bytes), with the way out; empty for anything else.
std::string TextImageRefusal(std::string_view path, const uint8_t* data, size_t size);

// Whether a file fits a flash of `range` placed at `imageAt`: it must hold
// bytes of the range and reach from its start; a short file needs
// `allowShort` (named `padOption` in the texts), and then says what pads.
struct ImageFit {
    std::string refusal;   // the whole refusal; empty when the file may be flashed
    ShortImage shortImage;
    std::string padding;   // PaddingText, when a short file is padded; else empty
    std::string note;      // what a front end says of the padding before the EC is reached
};
struct ImageFile {
    std::string_view path;
    uint64_t size = 0;
    uint32_t imageAt = 0;
    bool imageAtGiven = false;   // placed on purpose, not at 0 by default
};
ImageFit FitImage(const ImageFile& file, const FlashRange& range, bool allowShort,
                  std::string_view padOption = "--allow-short");

// The image file at `file.path` as it lies on disk: a plain file that
// opens, small enough for the image buffer, raw rather than text; then
// FitImage over its size.
ImageFit CheckImageFile(ImageFile file, const FlashRange& range, bool allowShort);

} // namespace vyk::pd
