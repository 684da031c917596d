#include "app/ClockText.h"

namespace vyk::app {

namespace {

void TwoDigits(char* out, int n)
{
    out[0] = static_cast<char>('0' + (n / 10) % 10);
    out[1] = static_cast<char>('0' + n % 10);
}

} // namespace

void FormatClockText(char* buffer, int a, int b, int c, char separator)
{
    TwoDigits(buffer, a);
    buffer[2] = separator;
    TwoDigits(buffer + 3, b);
    buffer[5] = separator;
    TwoDigits(buffer + 6, c);
    buffer[8] = '\0';
}

std::tm SystemLocalTime()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

void FormatLocalDate(char* buffer, const LocalClock& clock)
{
    std::tm t = clock();
    FormatClockText(buffer, t.tm_mon + 1, t.tm_mday, t.tm_year, '/');
}

void FormatLocalTime(char* buffer, const LocalClock& clock)
{
    std::tm t = clock();
    FormatClockText(buffer, t.tm_hour, t.tm_min, t.tm_sec, ':');
}

std::string StampedLine(const char* dateText, const char* timeText, std::string_view text)
{
    std::string line;
    line.reserve(24 + text.size());
    line += dateText;
    line += "  ";
    line += timeText;
    line += " >> ";
    line += text;
    return line;
}

} // namespace vyk::app
