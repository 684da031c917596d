#pragma once
#include <cstdint>
#include <string>

#include "platform/StopSignals.h"

namespace vyk::cli {

using platform::ClearStopRequest;
using platform::RaiseStopRequest;
using platform::SetTemporaryFile;
using platform::StopCause;
using platform::StopRequest;

// The platform's stop handlers with vykuu's words: the first stop tells
// what happens next; the second ends the process at once, telling the
// advice and the record set below.
void InstallStopHandlers();

// What a second signal says on standard error as it ends the process (the
// state a PD may be left in and what puts it right); empty: nothing.
void SetHardStopText(const std::string& text);

// The --json record as it stands ("{...}", as JsonSummary::Text() gives
// it), which a second signal prints as the process ends, with what it adds
// (interrupted, signal, blocksWritten, pdState); empty: no record.
void SetHardStopRecord(const std::string& record);

// While a sequence runs: what its PD may be left in, for that record, as a
// quoted JSON string ("" after it), and whether it counts blocks written;
// then the count.
void SetHardStopPdState(const std::string& state, bool countsBlocks);
void SetHardStopBlocks(uint32_t blocks);

} // namespace vyk::cli
