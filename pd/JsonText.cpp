#include "pd/JsonText.h"

#include <cctype>
#include <cstdio>

#include "platform/Utf8.h"

namespace vyk::pd {

namespace {

// The library's quoting, with the escapes records have always carried:
// \u0008 and \u000C rather than \b and \f, and upper-case hex digits, so
// that a reader comparing records byte for byte sees no change.
std::string StringText(std::string_view text)
{
    const std::string quoted = Json(platform::Utf8Of(text)).dump();
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

} // namespace vyk::pd
