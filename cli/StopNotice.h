#pragma once
#include "platform/HardStop.h"
#include "platform/StopSignals.h"

namespace vyk::cli {

using platform::SetHardStopBlocks;
using platform::SetHardStopPdState;
using platform::SetHardStopRecord;
using platform::SetHardStopText;
using platform::StopCause;
using platform::StopRequest;

// The platform's stop handlers with vykuu's words: the first stop tells
// what happens next; the second ends the process at once, telling the
// advice and the record the platform holds (platform/HardStop.h).
void InstallStopHandlers();

} // namespace vyk::cli
