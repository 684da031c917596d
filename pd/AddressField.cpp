#include "pd/AddressField.h"

#include <algorithm>
#include <cstring>

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
    std::memcpy(messageText, fieldText.data(), n);
    messageText[n] = '\0';
    return ParseHexText(messageText, 6);
}

} // namespace vyk::pd
