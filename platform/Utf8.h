#pragma once
#include <string>
#include <string_view>

namespace vyk::platform {

// Text as the system hands it to the program (a file name, an argument),
// as well-formed UTF-8: on Windows it arrives in the ANSI code page, and a
// name may hold any bytes, so each byte that begins no well-formed
// sequence becomes U+FFFD.
std::string Utf8Of(std::string_view systemText);

} // namespace vyk::platform
