#pragma once
#include <cstdint>
#include <string>

#include "cli/Commands.h"
#include "cli/OutputFile.h"

namespace vyk::cli {

// What a command checks before it reaches the EC: the range, the image and
// where it belongs, the files it writes. A refusal throws Failure; the power
// check is in Commands.h.

struct Range {
    uint32_t start = 0, end = 0;
    uint32_t startBlock = 0, endBlock = 0;
    uint32_t Blocks() const { return endBlock - startBlock; }
    uint32_t FirstAddress() const { return startBlock << 8; }
    uint32_t EndAddress() const { return endBlock << 8; }
};

// The same parse as the window's fields; the text is refused beforehand
// only where that parse would quietly read something else than was meant.
void CheckRange(const RangeOptions& options, JsonSummary& summary, Range& range);

// "319 blocks 0x00C0..0x01FE of port 1"
std::string BlocksText(const Range& range, int port);

// The flash address --image-at gives, a block start; 0 without it.
void CheckImageAt(const FlashOptions& options, JsonSummary& summary, uint32_t& imageAt);

// Whether the image file can be flashed over the range, placed at
// `imageAt`; the file itself is read later.
void CheckImage(const FlashOptions& options, const Range& range, uint32_t imageAt, Console& console,
               JsonSummary& summary);

OutputFile::Rules OutputRules(const CommonOptions& common, const char* noun, bool keepExisting);

} // namespace vyk::cli
