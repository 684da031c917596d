#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "pd/FrontEnd.h"

namespace vyk::pd {

// Parses the first `count` characters of text as uppercase hexadecimal:
// bytes 0x30..0x46 are digits (':' to '@' count 3 to 9), anything else ends
// the parse keeping the digits read so far. Never reads past a NUL.
uint32_t ParseHexText(const char* text, int count);

// Copies the field's text into a 256-byte message buffer (cut at 255
// characters) and parses its first six characters.
uint32_t ReadAddressField(std::string_view fieldText);

// Empty when the text reads the same to the field parse above as to a
// person; otherwise why it would be misread (lowercase digits, a 0x, more
// than six digits). For typed addresses: the tool's options, vyksimctl.
std::string AddressTextProblem(std::string_view text);

// The same rule for a named field of the window: empty when the text reads
// as typed; otherwise the field's name, the quoted text, why it would be
// misread, what the window would read and what to type.
std::string AddressFieldRefusal(std::string_view fieldName, std::string_view text);

// A window's two address fields read as the window reads them, the start
// field's refusal first: the range, or the first field that would be misread.
RangeChoice ReadRangeFields(std::string_view startName, std::string_view startText, std::string_view endName,
                            std::string_view endText);

// The block number (address bits 23..8) of an address.
inline constexpr uint32_t BlockOf(uint32_t address) { return (address >> 8) & 0xFFFF; }

} // namespace vyk::pd
