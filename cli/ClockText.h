#pragma once
#include <ctime>
#include <string>

namespace vyk::cli {

// The window's clock texts: "MM/DD/YY" and "HH:MM:SS", local time.
std::string FormatDateText(const std::tm& t);
std::string FormatTimeText(const std::tm& t);
std::tm LocalNow();
// A time as the calendar shows it in UTC, or in the local time zone.
std::tm BrokenDown(std::time_t time, bool utc);

} // namespace vyk::cli
