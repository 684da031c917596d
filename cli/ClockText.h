#pragma once
#include <ctime>
#include <string>

namespace vyk::cli {

// The window's clock texts: "MM/DD/YY" and "HH:MM:SS", local time.
std::string FormatDateText(const std::tm& t);
std::string FormatTimeText(const std::tm& t);
std::tm LocalNow();

} // namespace vyk::cli
