#include "cli/ClockText.h"

namespace vyk::cli {

namespace {
std::string ThreeFields(int a, int b, int c, char sep)
{
    const auto two = [](std::string& s, int v) {
        s += static_cast<char>('0' + (v / 10) % 10);
        s += static_cast<char>('0' + v % 10);
    };
    std::string s;
    two(s, a);
    s += sep;
    two(s, b);
    s += sep;
    two(s, c);
    return s;
}
} // namespace

std::string FormatDateText(const std::tm& t)
{
    return ThreeFields(t.tm_mon + 1, t.tm_mday, t.tm_year, '/');
}

std::string FormatTimeText(const std::tm& t)
{
    return ThreeFields(t.tm_hour, t.tm_min, t.tm_sec, ':');
}

std::tm BrokenDown(std::time_t time, bool utc)
{
    std::tm t{};
#ifdef _WIN32
    if (utc)
        gmtime_s(&t, &time);
    else
        localtime_s(&t, &time);
#else
    if (utc)
        gmtime_r(&time, &t);
    else
        localtime_r(&time, &t);
#endif
    return t;
}

std::tm LocalNow() { return BrokenDown(std::time(nullptr), false); }

} // namespace vyk::cli
