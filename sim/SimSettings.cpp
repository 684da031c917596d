#include "sim/SimSettings.h"

#include <cctype>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>
#include <stdexcept>

#include "pd/AddressField.h"

namespace vyk::sim {

namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

[[noreturn]] void Bad(const std::string& where, std::string_view key, std::string_view value,
                      const char* expected)
{
    throw std::runtime_error(where + ": key \"" + std::string(key) + "\": bad value \"" +
                             std::string(value) + "\" (expected " + expected + ")");
}

bool ParseBool(std::string_view key, std::string_view value, const std::string& where)
{
    const std::string v = Lower(value);
    if (v == "1" || v == "yes" || v == "true" || v == "on")
        return true;
    if (v == "0" || v == "no" || v == "false" || v == "off")
        return false;
    Bad(where, key, value, "yes or no");
}

// Decimal, or hexadecimal with 0x; the whole text must be digits.
bool ParseUnsigned(std::string_view s, uint64_t max, uint64_t& out)
{
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        return false;
    uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * base + d;
        if (v > max)
            return false;
    }
    out = v;
    return true;
}

// A flash address as vykuu reads one (01FE10); files written before this
// rule hold the 0x form (0x01FE10), which is read too.
bool ParseFlashAddress(std::string_view s, uint64_t& out)
{
    uint64_t v = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (!ParseUnsigned(s, FlashSize - 1, v))
            return false;
    } else {
        if (!pd::AddressTextProblem(s).empty())
            return false;
        v = pd::ReadAddressField(s);
        if (v >= FlashSize)
            return false;
    }
    out = v;
    return true;
}

// Eight bytes as hexadecimal pairs, blanks between them optional.
bool ParseVersion(std::string_view s, std::array<uint8_t, 8>& out)
{
    std::array<uint8_t, 8> v{};
    size_t n = 0;
    int half = -1;
    for (char c : s) {
        if (c == ' ' || c == '\t') {
            if (half >= 0)
                return false;
            continue;
        }
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (half < 0) {
            half = d;
        } else {
            if (n == 8)
                return false;
            v[n++] = static_cast<uint8_t>(half * 16 + d);
            half = -1;
        }
    }
    if (n != 8 || half >= 0)
        return false;
    out = v;
    return true;
}

std::string Hex8(const std::array<uint8_t, 8>& v)
{
    std::string r;
    char buf[4];
    for (size_t i = 0; i < v.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", v[i]);
        r += buf;
    }
    return r;
}

const char* YesNo(bool b) { return b ? "yes" : "no"; }

} // namespace

const char* EcModeName(EcMode mode)
{
    switch (mode) {
    case EcMode::Normal: return "normal";
    case EcMode::Init: return "init";
    case EcMode::Boot: return "boot";
    case EcMode::Flashing: return "flashing";
    }
    return "normal";
}

void ApplySettingValue(SimSettingsFile& file, std::string_view key, std::string_view value,
                       const std::string& where)
{
    Settings& s = file.settings;
    uint64_t n = 0;
    if (key == "port1_version" || key == "port2_version") {
        if (!ParseVersion(value, s.version[key[4] == '1' ? 0 : 1]))
            Bad(where, key, value, "eight hexadecimal bytes, e.g. 10 11 12 13 14 15 16 17");
    } else if (key == "busy_reads") {
        if (!ParseUnsigned(value, 1000000, n))
            Bad(where, key, value, "a number of busy tests, 0..1000000");
        s.busyReads = static_cast<int>(n);
    } else if (key == "busy_micros") {
        if (!ParseUnsigned(value, 60000000, n))
            Bad(where, key, value, "microseconds, 0..60000000");
        s.busyMicros = static_cast<uint32_t>(n);
    } else if (key == "stuck_busy") {
        s.faults.stuckBusy = ParseBool(key, value, where);
    } else if (key == "stuck_busy_after_blocks") {
        if (!ParseUnsigned(value, 1000000, n))
            Bad(where, key, value, "a number of block commands, 0 (never) to 1000000");
        s.faults.stuckBusyAfterBlocks = static_cast<int>(n);
    } else if (key == "no_chip") {
        s.faults.noChip = ParseBool(key, value, where);
    } else if (key == "ignore_writes_port") {
        if (!ParseUnsigned(value, 2, n))
            Bad(where, key, value, "0, 1 or 2");
        s.faults.ignoreWritesPort = static_cast<int>(n);
    } else if (key == "corrupt_reads") {
        s.faults.corruptReads = ParseBool(key, value, where);
    } else if (key == "corrupt_address") {
        if (!ParseFlashAddress(value, n))
            Bad(where, key, value, "a flash address below 040000, as vykuu reads one: 1 to 6 uppercase hexadecimal "
                                   "digits without 0x (01FE10)");
        s.faults.corruptAddress = static_cast<uint32_t>(n);
    } else if (key == "mode") {
        const std::string v = Lower(value);
        if (v == "normal")
            file.mode = EcMode::Normal;
        else if (v == "init")
            file.mode = EcMode::Init;
        else if (v == "boot")
            file.mode = EcMode::Boot;
        else if (v == "flashing")
            file.mode = EcMode::Flashing;
        else
            Bad(where, key, value, "normal, init, boot or flashing");
    } else if (key == "selected_port") {
        if (!ParseUnsigned(value, 2, n) || n == 0)
            Bad(where, key, value, "1 or 2");
        file.selectedPort = static_cast<int>(n);
    } else if (key == "pause_after_blocks") {
        if (!ParseUnsigned(value, 1000000, n))
            Bad(where, key, value, "a number of block commands, 0..1000000 (0: never pause)");
        s.pauseAfterBlocks = static_cast<int>(n);
    } else if (key == "ac_online") {
        s.acOnline = ParseBool(key, value, where);
    } else if (key == "battery_percent") {
        if (!ParseUnsigned(value, 100, n))
            Bad(where, key, value, "a charge in percent, 0..100");
        s.batteryPercent = static_cast<int>(n);
    } else {
        throw std::runtime_error(where + ": unknown key \"" + std::string(key) +
                                 "\" (known: port1_version, port2_version, busy_reads, "
                                 "busy_micros, stuck_busy, stuck_busy_after_blocks, no_chip, ignore_writes_port, "
                                 "corrupt_reads, corrupt_address, pause_after_blocks, ac_online, "
                                 "battery_percent, mode, selected_port)");
    }
}

namespace {

// Every key with its value as settings.txt shows it, in the file's order.
std::vector<std::pair<std::string, std::string>> SettingValues(const SimSettingsFile& file)
{
    const Settings& s = file.settings;
    char addr[16];
    std::snprintf(addr, sizeof addr, "%06X", static_cast<unsigned>(s.faults.corruptAddress));
    return {
        {"port1_version", Hex8(s.version[0])},
        {"port2_version", Hex8(s.version[1])},
        {"busy_reads", std::to_string(s.busyReads)},
        {"busy_micros", std::to_string(s.busyMicros)},
        {"stuck_busy", YesNo(s.faults.stuckBusy)},
        {"stuck_busy_after_blocks", std::to_string(s.faults.stuckBusyAfterBlocks)},
        {"no_chip", YesNo(s.faults.noChip)},
        {"ignore_writes_port", std::to_string(s.faults.ignoreWritesPort)},
        {"corrupt_reads", YesNo(s.faults.corruptReads)},
        {"corrupt_address", addr},
        {"pause_after_blocks", std::to_string(s.pauseAfterBlocks)},
        {"ac_online", YesNo(s.acOnline)},
        {"battery_percent", std::to_string(s.batteryPercent)},
        {"mode", EcModeName(file.mode)},
        {"selected_port", std::to_string(file.selectedPort)},
    };
}

// The comment block written above a key in a fresh file.
const char* CommentBefore(const std::string& key)
{
    if (key == "port1_version")
        return "# Simulated notebook: settings and the EC state that outlives a run.\n"
               "# One \"key = value\" per line; '#' starts a comment.\n"
               "\n"
               "# Version bytes the EC shows at 0xD220 (port 1) and 0xD240 (port 2), hexadecimal.\n";
    if (key == "busy_reads")
        return "\n# How long PdCommand stays busy after a command: this many busy tests read it\n"
               "# non-zero; or, when busy_micros is not 0, that many microseconds.\n";
    if (key == "stuck_busy")
        return "\n# Faults. stuck_busy: PdCommand never returns to 0. no_chip: every port read\n"
               "# gives 0xFF. ignore_writes_port: 1 or 2, that flash ignores block writes (0: none).\n"
               "# corrupt_reads: a block read returns the byte at corrupt_address inverted\n"
               "# (a flash address as vykuu reads one: uppercase hexadecimal, no 0x).\n"
               "# stuck_busy_after_blocks: when not 0, the block commands after this many stay busy.\n";
    if (key == "pause_after_blocks")
        return "\n# When not 0: after this many block commands of a run the next one stays busy\n"
               "# while the file \"paused\" is in this folder (the EC makes it; delete it to go on).\n";
    if (key == "ac_online")
        return "\n# The notebook's power: on its charger (yes/no), and its battery's charge in percent.\n";
    if (key == "mode")
        return "\n# EC state, kept up to date by the simulator: normal, init, boot or flashing;\n"
               "# the PD port the last selection named.\n";
    return "";
}

} // namespace

std::string FormatSettingsText(const SimSettingsFile& file)
{
    std::string t;
    for (const auto& [key, value] : SettingValues(file)) {
        t += CommentBefore(key);
        t += key + " = " + value + "\n";
    }
    return t;
}

std::string UpdateSettingsText(std::string_view text, const SimSettingsFile& file)
{
    const auto values = SettingValues(file);
    const auto defaults = SettingValues(SimSettingsFile{});
    std::vector<bool> seen(values.size(), false);
    std::string out;
    out.reserve(text.size() + 64);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        const size_t lineEnd = nl == std::string_view::npos ? text.size() : nl;
        std::string_view line = text.substr(pos, lineEnd - pos);
        const size_t lineStart = out.size();
        out.append(line);
        if (nl != std::string_view::npos)
            out += '\n';
        pos = lineEnd + (nl == std::string_view::npos ? 0 : 1);

        // Where the key and the value sit in this line, as the parse reads it.
        size_t body = 0;
        if (lineStart == 0 && line.substr(0, 3) == "\xEF\xBB\xBF")
            body = 3;
        const size_t hash = line.find('#');
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos || (hash != std::string_view::npos && hash < eq))
            continue;
        const std::string key(Trim(line.substr(body, eq - body)));
        size_t valueFrom = eq + 1;
        size_t valueTo = hash == std::string_view::npos ? line.size() : hash;
        while (valueFrom < valueTo && std::isspace(static_cast<unsigned char>(line[valueFrom])))
            ++valueFrom;
        while (valueTo > valueFrom && std::isspace(static_cast<unsigned char>(line[valueTo - 1])))
            --valueTo;
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i].first != key)
                continue;
            seen[i] = true;
            // Written another way but meaning the same ("0x10", "YES"): left alone.
            SimSettingsFile old = file;
            ApplySettingValue(old, key, line.substr(valueFrom, valueTo - valueFrom), "settings");
            if (SettingValues(old)[i].second != values[i].second)
                out.replace(lineStart + valueFrom, valueTo - valueFrom, values[i].second);
        }
    }
    for (size_t i = 0; i < values.size(); ++i) {
        if (seen[i] || values[i].second == defaults[i].second)
            continue;
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += values[i].first + " = " + values[i].second + "\n";
    }
    return out;
}

void ParseSettingsText(std::string_view text, const std::string& fileName, SimSettingsFile& out)
{
    SimSettingsFile result = out;
    std::set<std::string> seen;
    // Notepad puts a byte order mark in front of UTF-8 text.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    int lineNo = 0;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        const std::string where = fileName + ", line " + std::to_string(lineNo);
        if (const size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = Trim(line);
        if (line.empty())
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            throw std::runtime_error(where + ": \"" + std::string(line) +
                                     "\" is not of the form key = value");
        const std::string key(Trim(line.substr(0, eq)));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (key.empty())
            throw std::runtime_error(where + ": no key before '='");
        if (!seen.insert(key).second)
            throw std::runtime_error(where + ": key \"" + key + "\" given twice");
        ApplySettingValue(result, key, value, where);
    }
    out = result;
}

} // namespace vyk::sim
