#include "pd/ClockText.h"

#include <cstdio>
#include <cstring>

namespace vyk::pd {

namespace {

std::string ThreeFields(int a, int b, int c, char separator)
{
    const auto two = [](std::string& s, int n) {
        s += static_cast<char>('0' + (n / 10) % 10);
        s += static_cast<char>('0' + n % 10);
    };
    std::string s;
    two(s, a);
    s += separator;
    two(s, b);
    s += separator;
    two(s, c);
    return s;
}

void CopyText(char* buffer, const std::string& text)
{
    std::memcpy(buffer, text.c_str(), text.size() + 1);
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

std::string StampedLine(std::string_view dateText, std::string_view timeText, std::string_view text)
{
    std::string line;
    line.reserve(dateText.size() + timeText.size() + 6 + text.size());
    line += dateText;
    line += "  ";
    line += timeText;
    line += " >> ";
    line += text;
    return line;
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

void FormatLocalDate(char* buffer, const LocalClock& clock)
{
    CopyText(buffer, FormatDateText(clock()));
}

void FormatLocalTime(char* buffer, const LocalClock& clock)
{
    CopyText(buffer, FormatTimeText(clock()));
}

std::string UtcTimeText(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(time.time_since_epoch()).count();
    const std::tm utc = BrokenDown(static_cast<std::time_t>(sinceEpoch / 1000), true);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(sinceEpoch % 1000));
    return text;
}

} // namespace vyk::pd
