#pragma once
// What every fuzz target shares: a broken invariant names itself and
// aborts, so libFuzzer keeps the input that broke it.
#include <sanitizer/common_interface_defs.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_REQUIRE(ok) ((ok) ? void() : vyk::fuzz::Broken(__FILE__, __LINE__, #ok))

namespace vyk::fuzz {

// Told through the sanitizers' report stream: it stays open when a noisy
// target runs with its own stderr closed (-close_fd_mask).
[[noreturn]] inline void Broken(const char* file, int line, const char* invariant)
{
    __sanitizer_report_error_summary((std::string(file) + ":" + std::to_string(line) + ": broken: " + invariant).c_str());
    std::abort();
}

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
