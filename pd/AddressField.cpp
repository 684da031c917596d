#include "pd/AddressField.h"

#include <algorithm>

#include "pd/HexText.h"

namespace vyk::pd {

uint32_t ParseHexText(const char* text, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        // Signed, so bytes from 0x80 up end the parse like any non-digit.
        const int c = static_cast<signed char>(text[i]);
        if (c < '0' || c > 'F')
            break;
        int d = c - 0x30;
        if (d > 9)
            d -= 7;
        value = value * 16 + static_cast<uint32_t>(d);
    }
    return value;
}

uint32_t ReadAddressField(std::string_view fieldText)
{
    char messageText[256];
    const size_t n = std::min<size_t>(fieldText.size(), sizeof messageText - 1);
    // Not memcpy: an empty view may have no data at all.
    std::copy_n(fieldText.data(), n, messageText);
    messageText[n] = '\0';
    return ParseHexText(messageText, 6);
}

std::string AddressTextProblem(std::string_view typed)
{
    const std::string text(typed);
    // Quoted, so that a blank or an empty part shows.
    const std::string shown = "address \"" + text + "\"";
    const std::string hint = "; give 1 to 6 uppercase hexadecimal digits, like 00C000";
    if (text.empty())
        return "address is empty" + hint;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return shown + ": leave out the 0x, the address is always hexadecimal" + hint;
    if (text.size() > 6)
        return shown + " has more than six digits" + hint;
    for (const char c : text) {
        if (c >= 'a' && c <= 'f')
            return shown + ": lowercase digits end the number where the window reads it (it would read 0x" +
                   HexDigits(ReadAddressField(text), 6) + ")" + hint;
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return shown + " is not hexadecimal" + hint;
    }
    return {};
}

} // namespace vyk::pd
