#include "hw/WaitClock.h"

namespace vyk {

namespace {
WaitClock::time_point (*replacement)() = nullptr;
}

WaitClock::time_point WaitNow()
{
    return replacement ? replacement() : WaitClock::now();
}

void SetWaitClock(WaitClock::time_point (*now)())
{
    replacement = now;
}

} // namespace vyk
