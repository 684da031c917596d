#pragma once
// What every fuzz target shares: a broken invariant names itself and
// aborts, so libFuzzer keeps the input that broke it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_REQUIRE(ok) \
    ((ok) ? void() : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #ok), std::abort()))

namespace vyk::fuzz {

inline std::string_view Text(const uint8_t* data, size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// The input's parts between `separator` bytes; at least one, maybe empty.
inline std::vector<std::string> Split(std::string_view text, char separator)
{
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

} // namespace vyk::fuzz
