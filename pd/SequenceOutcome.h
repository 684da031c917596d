#pragma once
#include <chrono>

namespace vyk::pd {

// Stopped: a stop was asked for from outside (see SetStopRequest).
// NoPortAccess: nothing could reach the EC, so nothing was sent.
enum class SequenceOutcome { None, Running, Completed, RangeRefused, EcStayedBusy, Stopped, NoPortAccess };

// The state a run leaves the PD in, as far as the host can know it.
enum class PdAfter {
    NotTouched,          // no PD command went out (a port selection is none)
    Running,             // validated and reset: it runs what its flash holds
    Reset,               // reset with no validate (a stop, a refused range)
    MayBeInBootLoader,   // CmdInit went out, then the EC stopped answering: no reset
};

// Bound of the in-tick busy spins (before each block written, after each
// block read requested).
inline constexpr std::chrono::milliseconds BusySpinLimit{3000};

} // namespace vyk::pd
