#pragma once
#include <chrono>

namespace vyk::pd {

// Stopped: a stop was asked for from outside (see SetStopRequest).
// NoPortAccess: nothing could reach the EC, so nothing was sent.
enum class SequenceOutcome { None, Running, Completed, RangeRefused, EcStayedBusy, Stopped, NoPortAccess };

// Bound of the in-tick busy spins (before each block written, after each
// block read requested).
inline constexpr std::chrono::milliseconds BusySpinLimit{3000};

} // namespace vyk::pd
