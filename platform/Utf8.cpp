#include "platform/Utf8.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vyk::platform {

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

std::string Utf8Of(std::string_view original)
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

} // namespace vyk::platform
