#pragma once
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace vyk::app {

// "aa?bb?cc" and a NUL: each number as two digits, tens taken modulo 10.
void FormatClockText(char* buffer, int a, int b, int c, char separator);

// The local clock; tests replace it.
using LocalClock = std::function<std::tm()>;
std::tm SystemLocalTime();

// "MM/DD/YY" and "HH:MM:SS" into buffers of at least 9 bytes, each from its
// own reading of the clock.
void FormatLocalDate(char* buffer, const LocalClock& clock);
void FormatLocalTime(char* buffer, const LocalClock& clock);

// DateText, two blanks, TimeText, " >> ", text.
std::string StampedLine(const char* dateText, const char* timeText, std::string_view text);

} // namespace vyk::app
