#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace vyk::cli {

// Linux: SIGINT, SIGTERM, SIGHUP; Windows: Ctrl+C, Ctrl+Break, closing the
// console, logoff, shutdown. The first asks for a safe stop (StopRequest()
// becomes true and a note tells what happens next); the second ends the
// process at once, removing the temporary output file named below. SIGPIPE
// is ignored: a failed write is reported by the exit code instead.
void InstallInterruptHandlers();

// Read by the sequences between blocks; lives as long as the process.
const std::atomic<bool>& StopRequest();
// "SIGINT", "Ctrl+Break", ...; empty while no stop was asked for.
std::string StopCause();

// For a test that stops a run at a chosen port operation: what a first
// SIGINT (Ctrl+C) sets, without its note; and no stop asked for again, as
// in a fresh process.
void RaiseStopRequest();
void ClearStopRequest();

// The temporary file a second signal removes before the process ends;
// empty: none.
void SetTemporaryFile(const std::string& path);

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
