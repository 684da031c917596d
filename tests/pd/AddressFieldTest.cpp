#include <gtest/gtest.h>

#include <string>

#include "pd/AddressField.h"

using vyk::pd::ReadAddressField;

TEST(AddressField, ParsesLikeTheFieldsAlwaysHave)
{
    struct Case { const char* text; uint32_t value; };
    const Case cases[] = {
        {"00C000", 0x00C000}, {"01FF00", 0x01FF00}, {"00C0FF", 0x00C0FF},
        {"C000", 0x00C000},       // the terminator ends a short field
        {"00c000", 0},            // lowercase is not a digit here
        {"0x1000", 0},            // nor is the x of a C prefix
        {" 00C000", 0}, {"", 0},
        {"00C0001", 0x00C000},    // a seventh character is never looked at
        {"0:C000", 0x03C000},     // ':' counts as 3
        {"@?", 0x98},             // '@' as 9, '?' as 8
        {"01FG00", 0x01F},        // 'G' stops the parse
        {"FFFFFF", 0xFFFFFF},
        {"0\x80" "1", 0},         // bytes from 0x80 up stop it too
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadAddressField(c.text), c.value) << '"' << c.text << '"';
}

TEST(AddressField, LongFieldIsCutNotOverrun)
{
    EXPECT_EQ(ReadAddressField(std::string(10000, 'A')), 0xAAAAAAu);
    EXPECT_EQ(ReadAddressField(std::string_view()), 0u);   // no data: UBSan saw a memcpy from null
    EXPECT_EQ(vyk::pd::ParseHexText("12", 1), 0x1u);
    EXPECT_EQ(vyk::pd::BlockOf(0x01FFFF), 0x01FFu);
}

// vykuu's words for each misread text, whole (scripts match them), and the
// window's line for the same texts.
TEST(AddressField, MisreadTextsAreNamed)
{
    const std::string hint = "; give 1 to 6 uppercase hexadecimal digits, like 00C000";
    struct Case { const char* text; std::string tool; const char* window; };
    const Case cases[] = {
        {"00C000", "", ""},
        {"", "address is empty" + hint, "F \"\" is empty; the window would read it as 0x000000"},
        {"0x1000", "address \"0x1000\": leave out the 0x, the address is always hexadecimal" + hint,
         "F \"0x1000\": leave out the 0x, the address is always hexadecimal; the window would read it as 0x000000"},
        {"01FF000", "address \"01FF000\" has more than six digits" + hint,
         "F \"01FF000\" has more than six digits; the window would read it as 0x01FF00"},
        {"00c000",
         "address \"00c000\": lowercase digits end the number where the window reads it (it would read 0x000000)" + hint,
         "F \"00c000\": lowercase digits end the number where the window reads it; the window would read it as 0x000000"},
        {"0:C000", "address \"0:C000\" is not hexadecimal" + hint,
         "F \"0:C000\" is not hexadecimal; the window would read it as 0x03C000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vyk::pd::AddressTextProblem(c.text), c.tool) << c.text;
        EXPECT_EQ(vyk::pd::AddressFieldRefusal("F", c.text), *c.window ? c.window + hint : "") << c.text;
    }
}
