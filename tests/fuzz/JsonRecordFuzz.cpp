// Any bytes as a JSON string vykuu writes: one well-formed JSON string that
// decodes to the input, with each byte that is not part of well-formed
// UTF-8 shown as U+FFFD. The same bytes as the record beside a file
// (FILE.json): refused or read, never a crash, and what is read is written
// back as a record that reads the same.
#include <cstdlib>
#include <string>

#include "cli/JsonSummary.h"
#include "pd/ImageRecord.h"
#include "pd/JsonText.h"
#include "tests/fuzz/Fuzz.h"

using namespace vyk;

namespace {

// The length of the well-formed UTF-8 sequence at text[i], or 0: the table
// of well-formed byte sequences of the Unicode standard.
size_t WellFormed(std::string_view text, size_t i)
{
    const auto byte = [&](size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0; };
    const unsigned b = byte(0);
    const auto in = [](unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; };
    if (b < 0x80)
        return 1;
    if (in(b, 0xC2, 0xDF))
        return in(byte(1), 0x80, 0xBF) ? 2 : 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (b == 0xE0)
        lo = 0xA0;
    if (b == 0xED)
        hi = 0x9F;
    if (b == 0xF0)
        lo = 0x90;
    if (b == 0xF4)
        hi = 0x8F;
    if (in(b, 0xE0, 0xEF))
        return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
    if (in(b, 0xF0, 0xF4))
        return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
    return 0;
}

// A JSON string's value; aborts on anything JSON does not allow.
std::string Decode(const std::string& json)
{
    FUZZ_REQUIRE(json.size() >= 2 && json.front() == '"' && json.back() == '"');
    std::string out;
    for (size_t i = 1; i + 1 < json.size(); ++i) {
        const auto c = static_cast<unsigned char>(json[i]);
        FUZZ_REQUIRE(c >= 0x20 && c != '"');
        if (c != '\\') {
            out += json[i];
            continue;
        }
        FUZZ_REQUIRE(i + 2 < json.size());
        const char e = json[++i];
        // Records write backspace and form feed as \u0008 and \u000C.
        const std::string simple = "\"\\nrt", meant = "\"\\\n\r\t";
        if (simple.find(e) != std::string::npos) {
            out += meant[simple.find(e)];
            continue;
        }
        FUZZ_REQUIRE(e == 'u' && i + 5 < json.size());
        const std::string hex = json.substr(i + 1, 4);
        // Upper-case digits, as records have always had them.
        FUZZ_REQUIRE(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos);
        const unsigned long code = std::strtoul(hex.c_str(), nullptr, 16);
        FUZZ_REQUIRE(code < 0x20);   // all the quoting ever needs
        out += static_cast<char>(code);
        i += 4;
    }
    return out;
}

bool Same(const pd::Provenance& a, const pd::Provenance& b)
{
    return a.port == b.port && a.start == b.start && a.end == b.end && a.vendor == b.vendor &&
           a.product == b.product && a.serial == b.serial && a.toolVersion == b.toolVersion && a.time == b.time &&
           a.bytes == b.bytes && a.sha256 == b.sha256;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text = fuzz::Text(data, size);
    std::string expected;
    for (size_t i = 0; i < text.size();) {
        const size_t n = WellFormed(text, i);
        expected += n ? text.substr(i, n) : "\xEF\xBF\xBD";
        i += n ? n : 1;
    }
    const std::string quoted = pd::JsonText(std::string(text));
    FUZZ_REQUIRE(Decode(quoted) == expected);
    FUZZ_REQUIRE(pd::Json::parse(quoted) == expected);
    cli::JsonSummary summary;
    summary.Set("error", text);
    FUZZ_REQUIRE(summary.Text() == "{\"error\": " + quoted + "}");

    pd::Provenance read, again;
    std::string why;
    if (pd::ParseSidecar(std::string(text), read, why)) {
        FUZZ_REQUIRE(why.empty());
        FUZZ_REQUIRE(pd::ParseSidecar(pd::SidecarText(read), again, why) && Same(read, again));
    } else {
        FUZZ_REQUIRE(!why.empty());
    }
    return 0;
}
