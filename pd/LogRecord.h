#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pd/ClockText.h"

namespace vyk::pd {

// What the record needs of the platform's files.
class RecordFiles {
public:
    virtual ~RecordFiles() = default;
    // Opens `path` for appending, making it and its folder when missing;
    // `size` is its length now. False when it cannot be written there.
    virtual bool OpenRecord(const std::string& path, uint64_t& size) = 0;
    // Appends to the open record, handed to the system before it returns
    // (no buffer of ours), so a crash loses nothing written. False on failure.
    virtual bool AppendRecord(std::string_view text) = 0;
    virtual void CloseRecord() = 0;
    // Renames `from` to `to`, replacing `to`.
    virtual bool ReplaceFile(const std::string& from, const std::string& to) = 0;
};

// A record past this size becomes the one old record, and a new one begins.
inline constexpr uint64_t RecordLimit = 10u * 1024 * 1024;

// The window's record: every line stamped with the local time it was
// written, appended at once to the first of the candidate files that can be
// written. A record that cannot be written stops nothing: the first failure
// gives one line for the log, and the record stays off.
class LogRecord {
public:
    LogRecord(RecordFiles& files, std::vector<std::string> candidates, LocalClock clock);

    // Appends "YYYY-MM-DD HH:MM:SS  line". Returns the line the log shows
    // when this was the record's first failure, empty otherwise.
    std::string Write(std::string_view line);

    // The file written to, empty before the first line or after a failure.
    const std::string& Path() const { return path_; }
    bool Off() const { return off_; }

    // "VYK_UU.log" -> "VYK_UU.old.log"
    static std::string OldName(const std::string& path);

private:
    bool Open();
    bool Rotate();

    RecordFiles& files_;
    std::vector<std::string> candidates_;
    LocalClock clock_;
    std::string path_;
    uint64_t size_ = 0;
    bool open_ = false;
    bool off_ = false;
};

} // namespace vyk::pd
