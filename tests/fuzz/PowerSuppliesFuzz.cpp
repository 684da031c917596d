// Any text in the power supplies' files: the power read is one that can
// be, and the same whichever order the folders are listed in.
#include <algorithm>

#include "platform/MachineInfo.h"
#include "tests/fuzz/Fuzz.h"

using namespace vyk;

namespace {

// Supplies between 0x1E bytes; in each, its files between 0x1F bytes in
// the order of `names`.
std::vector<platform::SupplyFiles> Supplies(std::string_view input)
{
    std::vector<platform::SupplyFiles> supplies;
    for (const std::string& supply : fuzz::Split(input, '\x1E'))
        supplies.push_back([files = fuzz::Split(supply, '\x1F')](const char* name) {
            static const char* const names[] = {"type", "online", "scope", "status", "capacity"};
            for (size_t i = 0; i < files.size() && i < std::size(names); ++i)
                if (std::string_view(names[i]) == name)
                    return files[i];
            return std::string();
        });
    return supplies;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto supplies = Supplies(fuzz::Text(data, size));
    const platform::Power power = platform::PowerOfSupplies(supplies);
    FUZZ_REQUIRE(power.percent >= -1 && power.percent <= 100);
    FUZZ_REQUIRE(power.haveBattery || (power.onAc && power.percent == -1));
    std::reverse(supplies.begin(), supplies.end());
    const platform::Power reversed = platform::PowerOfSupplies(supplies);
    FUZZ_REQUIRE(reversed.haveBattery == power.haveBattery && reversed.onAc == power.onAc &&
                 reversed.percent == power.percent);
    return 0;
}
