#include "cli/RunRecord.h"

#include <cstdio>
#include <ctime>

#include "pd/ClockText.h"
#include "cli/Platform.h"

namespace vyk::cli {

std::string UtcTimeText(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(time.time_since_epoch()).count();
    const std::tm utc = pd::BrokenDown(static_cast<std::time_t>(sinceEpoch / 1000), true);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(sinceEpoch % 1000));
    return text;
}

void RecordFile(JsonSummary& summary, const std::string& key, const std::string& path, const uint8_t* data,
                size_t size)
{
    summary.Set(key, AbsolutePath(path));
    summary.Set(key + "Bytes", static_cast<int64_t>(size));
    summary.Set(key + "Sha256", Sha256Hex(data, size));
}

} // namespace vyk::cli
