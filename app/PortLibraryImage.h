#pragma once
#include <cstdint>
#include <span>

namespace vyk::app {

// The complete file of the port library, written out as "io.dll". Generated
// at build time from the built library.
std::span<const uint8_t> PortLibraryImage();

} // namespace vyk::app
