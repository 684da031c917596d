// Any bytes as an SMBIOS structure table: each string found is one of the
// table's, up to its NUL; and a System Information structure built from the
// input, behind the input's own structures, gives back its three strings.
#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/MachineInfo.h"
#include "tests/fuzz/Fuzz.h"

using namespace vyk;

namespace {

platform::Machine Parse(const std::vector<uint8_t>& table)
{
    // Exactly the table's bytes, so a read past its end is seen.
    const auto exact = std::make_unique<uint8_t[]>(table.size());
    std::copy(table.begin(), table.end(), exact.get());
    return platform::ParseSmbiosTable(exact.get(), table.size());
}

bool WholeString(const std::vector<uint8_t>& table, const std::string& s)
{
    const std::string text(table.begin(), table.end());
    if (s.find('\0') != std::string::npos)
        return false;
    for (size_t at = 0; s.empty() || (at = text.find(s, at)) != std::string::npos; ++at)
        if (s.empty() || at + s.size() == text.size() || text[at + s.size()] == 0)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> table(data, data + size);
    const platform::Machine m = Parse(table);
    FUZZ_REQUIRE(WholeString(table, m.vendor) && WholeString(table, m.product) && WholeString(table, m.serial));

    // The input's own structures up to the first type 1 one, ended by a
    // double NUL; then type 1 with serial, product and vendor as strings 1..3.
    const auto parts = fuzz::Split(fuzz::Text(data, size), '\0');
    if (parts.size() < 4 || parts[1].empty() || parts[2].empty() || parts[3].empty())
        return 0;
    if (!parts[0].empty() && (parts[0][0] == 1 || parts[0][0] == 127))
        return 0;
    std::vector<uint8_t> built;
    if (parts[0].size() >= 4 && static_cast<uint8_t>(parts[0][1]) >= 4 &&
        static_cast<uint8_t>(parts[0][1]) <= parts[0].size()) {
        built.assign(parts[0].begin(), parts[0].end());
        built.insert(built.end(), {0, 0});
    }
    const uint8_t system[] = {1, 8, 0x01, 0x00, 3, 2, 0, 1};
    built.insert(built.end(), std::begin(system), std::end(system));
    for (int i : {3, 2, 1})
        built.insert(built.end(), parts[i].c_str(), parts[i].c_str() + parts[i].size() + 1);
    built.push_back(0);
    const platform::Machine back = Parse(built);
    FUZZ_REQUIRE(back.vendor == parts[1] && back.product == parts[2] && back.serial == parts[3]);
    return 0;
}
