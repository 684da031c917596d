#include "cli/RunRecord.h"

#include "platform/Sha256.h"

namespace vyk::cli {

void RecordFile(JsonSummary& summary, const std::string& key, const std::string& path, const uint8_t* data,
                size_t size)
{
    summary.Set(key, AbsolutePath(path));
    summary.Set(key + "Bytes", static_cast<int64_t>(size));
    summary.Set(key + "Sha256", platform::Sha256Hex(data, size));
}

} // namespace vyk::cli
