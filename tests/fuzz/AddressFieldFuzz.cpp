// Any text in an address field: the window's parse agrees with a plain
// reading of its rule, and a text the tools accept reads as a person reads
// it and formats back to itself.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "tests/fuzz/Fuzz.h"

using namespace vyk;

namespace {

// '0'..'9', then ':' to '@' as 3 to 9, then 'A'..'F'; anything else ends it.
uint32_t Reference(std::string_view text, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count && i < text.size(); ++i) {
        const char c = text[i];
        const char* digit = c ? std::strchr("0123456789", c) : nullptr;
        const char* between = c ? std::strchr(":;<=>?@", c) : nullptr;
        const char* letter = c ? std::strchr("ABCDEF", c) : nullptr;
        if (digit)
            value = value * 16 + static_cast<uint32_t>(digit - "0123456789");
        else if (between)
            value = value * 16 + 3 + static_cast<uint32_t>(between - ":;<=>?@");
        else if (letter)
            value = value * 16 + 10 + static_cast<uint32_t>(letter - "ABCDEF");
        else
            break;
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text = fuzz::Text(data, size);
    // Exactly the input's bytes, so a read past `count` is seen.
    const auto exact = std::make_unique<char[]>(size);
    std::copy_n(data, size, exact.get());
    for (size_t count = 0; count <= size && count <= 8; ++count)
        FUZZ_REQUIRE(pd::ParseHexText(exact.get(), static_cast<int>(count)) == Reference(text, count));

    const uint32_t value = pd::ReadAddressField(text);
    FUZZ_REQUIRE(value == Reference(text, 6) && value <= 0xFFFFFF);
    if (pd::AddressTextProblem(text).empty()) {
        const std::string typed(text);
        FUZZ_REQUIRE(size >= 1 && size <= 6 && typed.find_first_not_of("0123456789ABCDEF") == std::string::npos);
        FUZZ_REQUIRE(value == std::strtoul(typed.c_str(), nullptr, 16));
        FUZZ_REQUIRE(pd::HexDigits(value, static_cast<int>(size)) == typed);
    }
    return 0;
}
