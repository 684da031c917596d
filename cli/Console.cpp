#include "cli/Console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define VYK_ISATTY _isatty
#define VYK_FILENO _fileno
#else
#include <unistd.h>
#define VYK_ISATTY isatty
#define VYK_FILENO fileno
#endif

namespace vyk::cli {

std::string FormatProgress(std::string_view what, uint32_t done, uint32_t total, double seconds, int barWidth)
{
    if (done > total)
        done = total;
    const int filled = total ? static_cast<int>(static_cast<uint64_t>(done) * barWidth / total) : barWidth;
    std::string bar(what);
    if (bar.size() < 7)
        bar.resize(7, ' ');
    bar += " [";
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(barWidth - filled), '-');
    bar += ']';

    char tail[96];
    std::snprintf(tail, sizeof tail, " %4u/%u blocks", done, total);
    bar += tail;
    if (seconds > 0.0 && done > 0) {
        const double rate = done / seconds;  // blocks per second
        const double kib = rate * 256.0 / 1024.0;
        const double left = (total - done) / rate;
        const long leftSec = static_cast<long>(left + 0.5);
        std::snprintf(tail, sizeof tail, "  %7.1f KiB/s  %ld:%02ld left", kib, leftSec / 60, leftSec % 60);
        bar += tail;
    }
    return bar;
}

bool StdStreamsAreTerminals()
{
    return VYK_ISATTY(VYK_FILENO(stdout)) && VYK_ISATTY(VYK_FILENO(stderr));
}

Console::Console(ConsoleOptions options)
    : options_(options), log_(options.json || options.logToStderr ? options.err : options.out)
{
}

void Console::LogLine(std::string_view line)
{
    if (options_.quiet)
        return;
    const bool redraw = barShown_;
    WipeBar();
    std::fwrite(line.data(), 1, line.size(), log_);
    std::fputc('\n', log_);
    std::fflush(log_);
    Check(log_);
    if (redraw)
        DrawBar();
}

void Console::Note(std::string_view text)
{
    LogLine(text);
}

void Console::Error(std::string_view text)
{
    WipeBar();
    std::fflush(options_.out);
    std::fprintf(options_.err, "vykuu: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(options_.err);
    Check(options_.err);
}

void Console::Result(std::string_view text)
{
    if (options_.json)
        return;
    WipeBar();
    std::fwrite(text.data(), 1, text.size(), options_.out);
    std::fputc('\n', options_.out);
    std::fflush(options_.out);
    Check(options_.out);
}

void Console::BeginProgress(std::string_view what)
{
    what_ = what;
    done_ = total_ = 0;
    phaseActive_ = true;
    phaseStart_ = std::chrono::steady_clock::now();
    lastDraw_ = {};
}

void Console::Progress(uint32_t done, uint32_t total)
{
    if (!options_.progress || !phaseActive_)
        return;
    if (total == 0)
        return;   // the range is not set up yet
    const bool finished = done == total && done_ != done;
    done_ = done;
    total_ = total;
    const auto now = std::chrono::steady_clock::now();
    if (!finished && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    DrawBar();
}

void Console::EndProgress()
{
    if (options_.progress && phaseActive_ && barShown_) {
        // Leave the finished bar standing as a record of the phase.
        DrawBar();
        std::fputc('\n', options_.err);
        std::fflush(options_.err);
        barShown_ = false;
        lastBarLength_ = 0;
    }
    phaseActive_ = false;
}

void Console::Flush()
{
    std::fflush(options_.out);
    Check(options_.out);
    std::fflush(options_.err);
    Check(options_.err);
}

void Console::Check(std::FILE* stream)
{
    if (!failure_.empty() || !std::ferror(stream))
        return;
    failure_ = std::string(stream == options_.out ? "standard output" : "standard error") +
               ": write failed: " + std::strerror(errno);
}

void Console::WipeBar()
{
    if (!barShown_)
        return;
    // Blanks rather than an escape sequence: old Windows consoles print escapes.
    std::fputc('\r', options_.err);
    for (size_t i = 0; i < lastBarLength_; ++i)
        std::fputc(' ', options_.err);
    std::fputc('\r', options_.err);
    std::fflush(options_.err);
    barShown_ = false;
}

void Console::DrawBar()
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - phaseStart_).count();
    std::string text = FormatProgress(what_, done_, total_, seconds);
    std::fflush(log_);
    std::fputc('\r', options_.err);
    std::fwrite(text.data(), 1, text.size(), options_.err);
    for (size_t i = text.size(); i < lastBarLength_; ++i)
        std::fputc(' ', options_.err);
    std::fflush(options_.err);
    lastBarLength_ = text.size();
    barShown_ = true;
}

} // namespace vyk::cli
