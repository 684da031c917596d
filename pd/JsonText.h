#pragma once
#include <string>

#include <nlohmann/json.hpp>

namespace vyk::pd {

// A JSON value as the records hold it: an object keeps its keys in the
// order they were given.
using Json = nlohmann::ordered_json;

// `value` on one line, as every record the tools write has it: ", " between
// members, ": " after a key, a fraction to the millisecond ("12.345"),
// strings in UTF-8 (a byte that begins no well-formed sequence shows as
// U+FFFD) with control characters as \u00XX.
std::string JsonText(const Json& value);

} // namespace vyk::pd
