#include "cli/RunRecord.h"

#include "platform/Sha256.h"

namespace vyk::cli {

std::string RecordFile(JsonSummary& summary, const std::string& key, const std::string& path,
                       const uint8_t* data, size_t size)
{
    summary.Set(key, AbsolutePath(path));
    summary.Set(key + "Bytes", static_cast<int64_t>(size));
    const std::string sha256 = platform::Sha256Hex(data, size);
    summary.Set(key + "Sha256", sha256);
    return sha256;
}

} // namespace vyk::cli
