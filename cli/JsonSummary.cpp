#include "cli/JsonSummary.h"

#include <cstdio>

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

} // namespace

std::string JsonSummary::Quote(std::string_view original)
{
#ifdef _WIN32
    const std::string converted = FromAnsiCodePage(original);
    std::string_view text = converted;
#else
    std::string_view text = original;
#endif
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80) {
            // A file name may hold any bytes: what is not UTF-8 shows as U+FFFD.
            const size_t n = Utf8Length(text.substr(i));
            if (n == 0) {
                out += "\xEF\xBF\xBD";
            } else {
                out.append(text.substr(i, n));
                i += n - 1;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04X", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

void JsonSummary::Put(std::string_view key, std::string value)
{
    bool found = false;
    for (auto& field : fields_) {
        if (field.first == key) {
            field.second = std::move(value);
            found = true;
            break;
        }
    }
    if (!found)
        fields_.emplace_back(std::string(key), std::move(value));
    if (watcher_)
        watcher_(Text());
}

void JsonSummary::Set(std::string_view key, std::string_view text) { Put(key, Quote(text)); }
void JsonSummary::Set(std::string_view key, int64_t number) { Put(key, std::to_string(number)); }
void JsonSummary::Set(std::string_view key, bool value) { Put(key, value ? "true" : "false"); }
void JsonSummary::SetRaw(std::string_view key, std::string raw) { Put(key, std::move(raw)); }

void JsonSummary::SetSeconds(std::string_view key, double seconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", seconds);
    Put(key, buf);
}

std::string JsonSummary::Text() const
{
    std::string out = "{";
    bool first = true;
    for (const auto& [key, value] : fields_) {
        if (!first)
            out += ", ";
        first = false;
        out += Quote(key);
        out += ": ";
        out += value;
    }
    out += "}";
    return out;
}

} // namespace vyk::cli
