#pragma once
#include <cstdint>
#include <string>

namespace vyk::pd {

// Uppercase hexadecimal with at least `digits` digits (at most 8), no prefix.
inline std::string HexDigits(uint32_t value, int digits)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    char text[8];
    int n = 0;
    do {
        text[7 - n++] = hex[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (n < digits && n < 8)
        text[7 - n++] = '0';
    return std::string(text + 8 - n, text + 8);
}

} // namespace vyk::pd
