#pragma once
#include <cstdint>
#include <string>

namespace vyk::platform {

// Why the port driver's service did not start, from the Windows error of
// the start, in words a technician can act on. Portable, so it is tested
// on the host too.
std::string DriverStartProblem(const std::string& driverName, uint32_t windowsError);

} // namespace vyk::platform
