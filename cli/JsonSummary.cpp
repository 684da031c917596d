#include "cli/JsonSummary.h"

#include <algorithm>

namespace vyk::cli {

const std::vector<std::string_view>& JsonSummary::Keys()
{
    // The order a run meets them in: what was asked, the files and the
    // range checked, the ports opened, the EC's answers, how the run ended.
    static const std::vector<std::string_view> keys = {
        "tool", "toolVersion", "started",
        "command", "port", "start", "end", "firstBlock", "endBlock", "blocks",
        "image", "verify", "output", "imageAt", "paddedBlocks", "backup",
        "backend", "machine", "imageBytes", "imageSha256", "imageRecord", "dryRun",
        "versionsBefore", "versions", "backupKept", "backupBytes", "backupSha256",
        "bytes", "outputBytes", "outputSha256", "record",
        "blocksWritten", "verified", "firstMismatch", "mismatchedBytes", "resetSent",
        "interrupted", "signal", "error", "pdMayBeInBootLoader", "advice", "versionsAfter",
        "ended", "seconds", "ok", "exitCode",
    };
    return keys;
}

void JsonSummary::Put(std::string_view key, Json value)
{
    // A key the list lacks is a slip of ours: the record still keeps it, after
    // the listed ones, rather than ending a run on the EC.
    const auto& keys = Keys();
    if (std::find(keys.begin(), keys.end(), key) == keys.end() && !fields_.count(key))
        unlisted_.emplace_back(key);
    fields_.insert_or_assign(std::string(key), std::move(value));
    if (watcher_)
        watcher_(Text());
}

void JsonSummary::Set(std::string_view key, std::string_view text) { Put(key, std::string(text)); }
void JsonSummary::Set(std::string_view key, int64_t number) { Put(key, number); }
void JsonSummary::Set(std::string_view key, bool value) { Put(key, value); }
void JsonSummary::SetSeconds(std::string_view key, double seconds) { Put(key, seconds); }
void JsonSummary::SetRaw(std::string_view key, Json value) { Put(key, std::move(value)); }

std::string JsonSummary::Text() const
{
    Json record = Json::object();
    for (const std::string_view key : Keys())
        if (const auto field = fields_.find(key); field != fields_.end())
            record[std::string(key)] = field->second;
    for (const std::string& key : unlisted_)
        record[key] = fields_.find(key)->second;
    return JsonText(record);
}

} // namespace vyk::cli
