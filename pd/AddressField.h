#pragma once
#include <cstdint>
#include <string_view>

namespace vyk::pd {

// Parses the first `count` characters of text as uppercase hexadecimal:
// bytes 0x30..0x46 are digits (':' to '@' count 3 to 9), anything else ends
// the parse keeping the digits read so far. Never reads past a NUL.
uint32_t ParseHexText(const char* text, int count);

// Copies the field's text into a 256-byte message buffer (cut at 255
// characters) and parses its first six characters.
uint32_t ReadAddressField(std::string_view fieldText);

// The block number (address bits 23..8) of an address.
inline constexpr uint32_t BlockOf(uint32_t address) { return (address >> 8) & 0xFFFF; }

} // namespace vyk::pd
