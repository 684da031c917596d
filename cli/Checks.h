#pragma once
#include <cstdint>
#include <string>

#include "cli/Commands.h"
#include "pd/FlashRange.h"

namespace vyk::cli {

// What a command checks before it reaches the EC: the range, the image and
// where it belongs, the files it writes. A refusal throws Failure; the power
// check is in Commands.h.

using Range = pd::FlashRange;

// The same parse as the window's fields; the text is refused beforehand
// only where that parse would quietly read something else than was meant.
void CheckRange(const RangeOptions& options, JsonSummary& summary, Range& range);

// "319 blocks 0x00C000..0x01FEFF of port 1"
std::string BlocksText(const Range& range, int port);

// The flash address --image-at gives, a block start; 0 without it.
void CheckImageAt(const FlashOptions& options, JsonSummary& summary, uint32_t& imageAt);

// A flash below the window's default start needs --allow-low-range.
void CheckFlashRange(const FlashOptions& options, const Range& range, Console& console);

// Whether the image file can be flashed over the range, placed at
// `imageAt`: raw bytes, not text, and long enough unless --allow-short.
// Returns what --allow-short pads ("303 blocks (...) written as 0xFF
// padding"), for the result; empty when nothing is padded.
std::string CheckImage(const FlashOptions& options, const Range& range, uint32_t imageAt, Console& console,
                       JsonSummary& summary);

platform::OutputFile::Rules OutputRules(const CommonOptions& common, const char* noun, bool keepExisting,
                              bool keepExistingTarget = false);

} // namespace vyk::cli
