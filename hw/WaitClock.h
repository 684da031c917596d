#pragma once
#include <chrono>

namespace vyk {

// The clock that bounds every wait on the EC and times the simulated EC's
// work. A test may put a clock of its own in its place, one that moves with
// the port operations, so that a wait ends at the same operation on every
// run however loaded the machine is.
using WaitClock = std::chrono::steady_clock;

WaitClock::time_point WaitNow();
// nullptr: the system's steady clock again.
void SetWaitClock(WaitClock::time_point (*now)());

} // namespace vyk
