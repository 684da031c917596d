#pragma once
// What the test programs that run under Wine share: a check that prints its
// verdict and counts failures (the program's exit code), and paths from the
// build tree in the form Wine sees them.
#include <cstdio>
#include <string>

namespace vyk::winetest {

inline int Failures = 0;

inline void Check(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok)
        ++Failures;
}

// Paths from the build tree arrive in Unix form; Wine sees / as Z:.
inline std::string WindowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/') {
        for (char& c : path)
            if (c == '/')
                c = '\\';
        path = "Z:" + path;
    }
    return path;
}

// Debugger output and the like on one line.
inline std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

} // namespace vyk::winetest
