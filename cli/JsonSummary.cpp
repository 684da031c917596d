#include "cli/JsonSummary.h"

#include <cstdio>

namespace vyk::cli {

std::string JsonSummary::Quote(std::string_view text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
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
                // Paths are passed through as their bytes; on Linux they are UTF-8.
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

void JsonSummary::Put(std::string_view key, std::string value)
{
    for (auto& field : fields_) {
        if (field.first == key) {
            field.second = std::move(value);
            return;
        }
    }
    fields_.emplace_back(std::string(key), std::move(value));
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
