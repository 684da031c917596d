#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "pd/HexText.h"

namespace vyk::pd {

// Pieces of the lines with which a sequence tells why it stopped.

inline std::string BlockText(uint32_t block) { return "0x" + HexDigits(block, 4); }

inline std::string BoundText(std::chrono::steady_clock::duration bound)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(bound).count()) + " ms";
}

// "blocks 0x00C0 to 0x00C3" or "block 0x00C0"; first < end.
inline std::string BlockSpanText(uint32_t first, uint32_t end)
{
    if (end - first == 1)
        return "block " + BlockText(first);
    return "blocks " + BlockText(first) + " to " + BlockText(end - 1);
}

} // namespace vyk::pd
