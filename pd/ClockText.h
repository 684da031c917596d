#pragma once
#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace vyk::pd {

// The clock texts of the window's status bar and of every stamped log line,
// the window's and vykuu's alike: "MM/DD/YY" and "HH:MM:SS", each number as
// two digits, tens taken modulo 10.
std::string FormatDateText(const std::tm& t);
std::string FormatTimeText(const std::tm& t);

// DateText, two blanks, TimeText, " >> ", text.
std::string StampedLine(std::string_view dateText, std::string_view timeText, std::string_view text);

// A time as the calendar shows it in UTC, or in the local time zone.
std::tm BrokenDown(std::time_t time, bool utc);
std::tm LocalNow();

// UTC, ISO 8601, to the millisecond, as the records carry it:
// "2025-06-01T10:00:00.123Z".
std::string UtcTimeText(std::chrono::system_clock::time_point time);

// The local clock as the window reads it; tests replace it.
using LocalClock = std::function<std::tm()>;
// FormatDateText and FormatTimeText of one reading of the clock, with a
// NUL, into buffers of at least 9 bytes.
void FormatLocalDate(char* buffer, const LocalClock& clock);
void FormatLocalTime(char* buffer, const LocalClock& clock);

} // namespace vyk::pd
