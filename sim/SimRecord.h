#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/SimNotebook.h"

namespace vyk::sim {

// What the notebook saw: the port traffic, the EC RAM accesses it made and
// the commands the EC received (while recording is on), and what a careful
// EC refused or found wrong (always).
struct SimRecord {
    static constexpr size_t MaxViolations = 10000;

    bool recording = false;
    std::vector<PortOp> traffic;
    std::vector<EcAccess> accesses;
    std::vector<uint8_t> commands;
    std::vector<std::string> violations;

    void Violation(std::string text)
    {
        if (violations.size() < MaxViolations)
            violations.push_back(std::move(text));
        else if (violations.size() == MaxViolations)
            violations.push_back("... further violations not recorded");
    }

    void Clear()
    {
        traffic.clear();
        accesses.clear();
        commands.clear();
        violations.clear();
    }
};

// printf into a string, for the violations' texts.
template <typename... Args> std::string Format(const char* fmt, Args... args)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

} // namespace vyk::sim
