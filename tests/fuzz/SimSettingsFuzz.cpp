// Any text as the simulator's settings.txt (up to the first NUL), then
// more settings to bring it up to (after the NUL): a text that parses
// formats and parses back the same, is left byte for byte as it was when
// nothing changes, and once updated parses to the new settings.
#include <stdexcept>

#include "sim/SimSettings.h"
#include "tests/fuzz/Fuzz.h"

using namespace vyk;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input = fuzz::Text(data, size);
    const size_t nul = input.find('\0');
    const std::string_view text = input.substr(0, nul);
    sim::SimSettingsFile file;
    try {
        sim::ParseSettingsText(text, "settings.txt", file);
    } catch (const std::runtime_error&) {
        return 0;
    }
    const std::string formatted = sim::FormatSettingsText(file);
    sim::SimSettingsFile again;
    sim::ParseSettingsText(formatted, "formatted", again);
    FUZZ_REQUIRE(sim::FormatSettingsText(again) == formatted);
    FUZZ_REQUIRE(sim::UpdateSettingsText(text, file) == text);

    sim::SimSettingsFile wanted = file;
    try {
        sim::ParseSettingsText(nul == std::string_view::npos ? "" : input.substr(nul + 1), "wanted", wanted);
    } catch (const std::runtime_error&) {
        return 0;
    }
    const std::string updated = sim::UpdateSettingsText(text, wanted);
    sim::SimSettingsFile got;
    sim::ParseSettingsText(updated, "updated", got);
    FUZZ_REQUIRE(sim::FormatSettingsText(got) == sim::FormatSettingsText(wanted));
    return 0;
}
