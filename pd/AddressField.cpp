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

namespace {

constexpr const char* Hint = "give 1 to 6 uppercase hexadecimal digits, like 00C000";

enum class Misread { None, Empty, Prefix, TooLong, Lowercase, NotHex };

Misread Classify(const std::string& text)
{
    if (text.empty())
        return Misread::Empty;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return Misread::Prefix;
    if (text.size() > 6)
        return Misread::TooLong;
    for (const char c : text) {
        if (c >= 'a' && c <= 'f')
            return Misread::Lowercase;
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return Misread::NotHex;
    }
    return Misread::None;
}

// Said after the quoted text.
const char* Why(Misread m)
{
    switch (m) {
    case Misread::Empty: return " is empty";
    case Misread::Prefix: return ": leave out the 0x, the address is always hexadecimal";
    case Misread::TooLong: return " has more than six digits";
    case Misread::Lowercase: return ": lowercase digits end the number where the window reads it";
    case Misread::NotHex: return " is not hexadecimal";
    case Misread::None: break;
    }
    return "";
}

} // namespace

std::string AddressTextProblem(std::string_view typed)
{
    const std::string text(typed);
    const Misread m = Classify(text);
    const std::string hint = std::string("; ") + Hint;
    if (m == Misread::None)
        return {};
    if (m == Misread::Empty)
        return "address is empty" + hint;
    // Quoted, so that a blank or an empty part shows.
    std::string line = "address \"" + text + "\"" + Why(m);
    if (m == Misread::Lowercase)
        line += " (it would read 0x" + HexDigits(ReadAddressField(text), 6) + ")";
    return line + hint;
}

std::string AddressFieldRefusal(std::string_view fieldName, std::string_view typed)
{
    const std::string text(typed);
    const Misread m = Classify(text);
    if (m == Misread::None)
        return {};
    return std::string(fieldName) + " \"" + text + "\"" + Why(m) + "; the window would read it as 0x" +
           HexDigits(ReadAddressField(text), 6) + "; " + Hint;
}

RangeChoice ReadRangeFields(std::string_view startName, std::string_view startText, std::string_view endName,
                            std::string_view endText)
{
    RangeChoice choice;
    choice.refusal = AddressFieldRefusal(startName, startText);
    if (choice.refusal.empty())
        choice.refusal = AddressFieldRefusal(endName, endText);
    choice.range = {ReadAddressField(startText), ReadAddressField(endText)};
    return choice;
}

} // namespace vyk::pd
