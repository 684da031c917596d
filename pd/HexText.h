#pragma once
#include <cstdint>
#include <string>

namespace vyk::pd {

// Uppercase hexadecimal with at least `digits` digits, no prefix.
inline std::string HexDigits(uint32_t value, int digits)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), hex[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(out.size()) < digits)
        out.insert(0, digits - out.size(), '0');
    return out;
}

} // namespace vyk::pd
