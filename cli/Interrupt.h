#pragma once
#include <atomic>
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

} // namespace vyk::cli
