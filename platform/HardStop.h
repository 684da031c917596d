#pragma once
#include <cstdint>
#include <string>

namespace vyk::platform {

// What a process ended at once by a second stop leaves behind, set as the
// run goes and written by the stop handler without allocating.

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

// The advice, then the record with what ended it: the last words a stop
// handler writes (StopWords::last).
void WriteHardStop(const char* cause, uint32_t exitCode);

} // namespace vyk::platform
