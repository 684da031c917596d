#pragma once
#include <chrono>

namespace vyk::pd {

// Stopped: a stop was asked for from outside (see SetStopRequest).
enum class SequenceOutcome { None, Running, Completed, RangeRefused, EcStayedBusy, Stopped };

// Bound of the in-tick busy spins (before each block written, after each
// block read requested).
inline constexpr std::chrono::milliseconds BusySpinLimit{3000};

} // namespace vyk::pd
