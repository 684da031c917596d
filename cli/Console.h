#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace vyk::cli {

// "flash   [########------------]  120/319 blocks   64.0 KiB/s   0:02 left"
// Rate and time left appear once something has been timed.
std::string FormatProgress(std::string_view what, uint32_t done, uint32_t total, double seconds,
                           int barWidth = 28);

struct ConsoleOptions {
    bool quiet = false;     // no log lines
    bool json = false;      // stdout carries the summary alone; log lines go to stderr
    bool progress = false;  // draw a progress bar on stderr
    bool logToStderr = false;  // stdout carries data (read -o -)
    // The two standard streams; a test may catch what they would show.
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

// Where everything the tool says goes. Log lines to stdout (stderr under
// --json), errors to stderr, the progress bar on stderr; the bar is wiped
// before any other line so the two never mix on one terminal line. Every
// line is flushed as it is written: a process ended at once keeps its log.
class Console {
public:
    explicit Console(ConsoleOptions options);

    void LogLine(std::string_view line);
    // Informative text (dry-run findings, which backend is used): shown like a log line.
    void Note(std::string_view text);
    void Error(std::string_view text);
    // The answer a command exists for (a version label): stdout, even
    // under --quiet; nothing under --json, whose summary carries it.
    void Result(std::string_view text);

    // Starts a phase ("flash", "verify", "read"); Progress() redraws at
    // most every 100 ms, and once more when the last block is done.
    void BeginProgress(std::string_view what);
    void Progress(uint32_t done, uint32_t total);
    void EndProgress();

    bool Quiet() const { return options_.quiet; }
    bool Json() const { return options_.json; }
    // Flushes both streams; afterwards OutputFailure() tells whether
    // anything written to them was lost ("standard output: write failed:
    // Broken pipe"), or is empty.
    void Flush();
    const std::string& OutputFailure() const { return failure_; }

    // What the command achieved, told when the output fails after it
    // ("the flash of 319 blocks to port 1 completed and verified").
    void SetAchieved(std::string text) { achieved_ = std::move(text); }
    const std::string& Achieved() const { return achieved_; }

private:
    void WipeBar();
    void DrawBar();
    // Notes the first failed write to a stream, with the system's reason.
    void Check(std::FILE* stream);

    ConsoleOptions options_;
    std::FILE* log_;
    std::string what_;
    bool barShown_ = false;
    bool phaseActive_ = false;
    uint32_t done_ = 0, total_ = 0;
    std::chrono::steady_clock::time_point phaseStart_{}, lastDraw_{};
    size_t lastBarLength_ = 0;
    std::string failure_;
    std::string achieved_;
};

// Whether both standard streams are terminals (no progress bar otherwise).
bool StdStreamsAreTerminals();

} // namespace vyk::cli
