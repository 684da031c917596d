#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vyk::platform {

// What a front end says when a stop is asked for. Both run inside a signal
// handler (or a console control handler): they may not allocate or take a
// lock, and write only through WriteAtOnce.
struct StopWords {
    // The first stop: what happens next.
    void (*first)() = nullptr;
    // The second, as the process ends at once with `exitCode`; `cause` is
    // what asked ("SIGTERM", "Ctrl+Break", ...).
    void (*last)(const char* cause, uint32_t exitCode) = nullptr;
};

// Linux: SIGINT, SIGTERM, SIGHUP; Windows: Ctrl+C, Ctrl+Break, closing the
// console, logoff, shutdown. The first asks for a safe stop (StopRequest()
// becomes true and `words.first` runs); the second ends the process at once,
// removing the temporary output file named below, after `words.last`.
// SIGPIPE is ignored: a failed write is reported by the exit code instead.
void InstallStopHandlers(StopWords words);

// Read by the sequences between blocks; lives as long as the process.
const std::atomic<bool>& StopRequest();
// "SIGINT", "Ctrl+Break", ...; empty while no stop was asked for.
std::string StopCause();

// For a test that stops a run at a chosen port operation: what a first
// SIGINT (Ctrl+C) sets, without its words; and no stop asked for again, as
// in a fresh process.
void RaiseStopRequest();
void ClearStopRequest();

// The temporary file a second signal removes before the process ends;
// empty: none.
void SetTemporaryFile(const std::string& path);

// Writes to standard output (1) or standard error (2) with one system call
// and no allocation: what a handler may do.
void WriteAtOnce(int stream, const char* text, size_t length);

} // namespace vyk::platform
