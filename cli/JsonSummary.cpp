#include "cli/JsonSummary.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vyk::cli {

namespace {

// The length of the well-formed UTF-8 sequence at s[0], or 0.
size_t Utf8Length(std::string_view s)
{
    const auto c = static_cast<unsigned char>(s[0]);
    size_t n;
    uint32_t min;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, min = 0x10000;
    else
        return 0;
    if (s.size() < n)
        return 0;
    uint32_t code = c & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        const auto d = static_cast<unsigned char>(s[i]);
        if ((d & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (d & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

#ifdef _WIN32
// Names reach the program in the ANSI code page; JSON is UTF-8.
std::string FromAnsiCodePage(std::string_view text)
{
    if (text.empty())
        return {};
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), bytes, nullptr, nullptr);
    return out;
}
#endif

// A file name may hold any bytes: each one that begins no well-formed
// sequence becomes U+FFFD, so that the library is given UTF-8 alone.
std::string WellFormed(std::string_view original)
{
#ifdef _WIN32
    const std::string converted = FromAnsiCodePage(original);
    std::string_view text = converted;
#else
    std::string_view text = original;
#endif
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text.substr(i));
        if (n == 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(text.substr(i, n));
        i += n == 0 ? 1 : n;
    }
    return out;
}

// The library's quoting, with the escapes records have always carried:
// \u0008 and \u000C rather than \b and \f, and upper-case hex digits, so
// that a reader comparing records byte for byte sees no change.
std::string StringText(std::string_view text)
{
    const std::string quoted = Json(WellFormed(text)).dump();
    std::string out;
    out.reserve(quoted.size());
    for (size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] != '\\') {
            out += quoted[i];
            continue;
        }
        const char escaped = quoted[++i];
        if (escaped == 'b') {
            out += "\\u0008";
        } else if (escaped == 'f') {
            out += "\\u000C";
        } else if (escaped == 'u') {
            out += "\\u";
            for (int k = 0; k < 4; ++k)
                out += static_cast<char>(std::toupper(static_cast<unsigned char>(quoted[++i])));
        } else {
            out += '\\';
            out += escaped;
        }
    }
    return out;
}

} // namespace

std::string JsonText(const Json& value)
{
    std::string out;
    switch (value.type()) {
    case Json::value_t::object:
        for (const auto& member : value.items())
            out += (out.empty() ? "" : ", ") + StringText(member.key()) + ": " + JsonText(member.value());
        return "{" + out + "}";
    case Json::value_t::array:
        for (const Json& element : value)
            out += (out.empty() ? "" : ", ") + JsonText(element);
        return "[" + out + "]";
    case Json::value_t::string:
        return StringText(value.get_ref<const std::string&>());
    case Json::value_t::number_float: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f", value.get<double>());
        return buf;
    }
    default:
        return value.dump();   // integers, true, false, null
    }
}

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
