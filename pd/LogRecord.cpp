#include "pd/LogRecord.h"

#include <cstdio>

namespace vyk::pd {

LogRecord::LogRecord(RecordFiles& files, std::vector<std::string> candidates, LocalClock clock)
    : files_(files), candidates_(std::move(candidates)), clock_(std::move(clock))
{
}

std::string LogRecord::OldName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ".old";
    return path.substr(0, dot) + ".old" + path.substr(dot);
}

bool LogRecord::Open()
{
    // The program's folder first; where that is read-only, the user's own.
    for (const std::string& candidate : candidates_) {
        if (candidate.empty())
            continue;
        uint64_t size = 0;
        if (files_.OpenRecord(candidate, size)) {
            path_ = candidate;
            size_ = size;
            open_ = true;
            return true;
        }
    }
    return false;
}

bool LogRecord::Rotate()
{
    files_.CloseRecord();
    open_ = false;
    // One old record is kept; the one before it goes.
    if (!files_.ReplaceFile(path_, OldName(path_)))
        return false;
    uint64_t size = 0;
    if (!files_.OpenRecord(path_, size))
        return false;
    size_ = size;
    open_ = true;
    return true;
}

std::string LogRecord::Write(std::string_view line)
{
    if (off_)
        return {};
    const std::tm t = clock_();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d  ", (t.tm_year + 1900) % 10000,
                  (t.tm_mon + 1) % 100, t.tm_mday % 100, t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100);
    // CRLF: the record is read with Notepad.
    const std::string text = stamp + std::string(line) + "\r\n";
    std::string failed;
    if (!open_ && !Open()) {
        failed = candidates_.empty() ? std::string("nowhere to write it") : "cannot write " + candidates_.front();
        for (size_t i = 1; i < candidates_.size(); ++i)
            if (!candidates_[i].empty())
                failed += " nor " + candidates_[i];
    } else if (size_ + text.size() > RecordLimit && size_ != 0 && !Rotate()) {
        failed = "cannot start a new " + path_ + " after " + std::to_string(RecordLimit / (1024 * 1024)) + " MiB";
    } else if (!files_.AppendRecord(text)) {
        failed = "cannot write " + path_ + " any more";
    } else {
        size_ += text.size();
        return {};
    }
    off_ = true;
    if (open_)
        files_.CloseRecord();
    open_ = false;
    path_.clear();
    return "Record: " + failed + "; from here on this run is not recorded, the log above is all there is";
}

} // namespace vyk::pd
