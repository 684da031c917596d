#pragma once
#include <chrono>

namespace vyk::pd {

enum class SequenceOutcome { None, Running, Completed, RangeRefused, EcStayedBusy };

// Bound of the in-tick busy spins (before each block written, after each
// block read requested).
inline constexpr std::chrono::milliseconds BusySpinLimit{3000};

} // namespace vyk::pd
