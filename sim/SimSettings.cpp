#include "sim/SimSettings.h"

#include <cctype>
#include <cstdio>
#include <iterator>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

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

bool ParseBool(std::string_view value, uint64_t& out)
{
    const std::string v = Lower(value);
    if (v == "1" || v == "yes" || v == "true" || v == "on")
        out = 1;
    else if (v == "0" || v == "no" || v == "false" || v == "off")
        out = 0;
    else
        return false;
    return true;
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

uint64_t PackVersion(const std::array<uint8_t, 8>& v)
{
    uint64_t n = 0;
    for (uint8_t b : v)
        n = n << 8 | b;
    return n;
}

std::array<uint8_t, 8> UnpackVersion(uint64_t n)
{
    std::array<uint8_t, 8> v{};
    for (size_t i = v.size(); i-- > 0; n >>= 8)
        v[i] = static_cast<uint8_t>(n);
    return v;
}

constexpr const char* ModeNames[] = {"normal", "init", "boot", "flashing"};

constexpr const char* FileHeader = "Simulated notebook: settings and the EC state that outlives a run.\n"
                                   "One \"key = value\" per line; '#' starts a comment.\n";

using Kind = SettingRow::Kind;

// A member of SimSettingsFile as the table's getter and setter.
#define VYK_FIELD(member)                                                   \
    [](const SimSettingsFile& f) { return static_cast<uint64_t>(f.member); }, \
    [](SimSettingsFile& f, uint64_t n) { f.member = static_cast<decltype(f.member)>(n); }
#define VYK_VERSION(i)                                                          \
    [](const SimSettingsFile& f) { return PackVersion(f.settings.version[i]); }, \
    [](SimSettingsFile& f, uint64_t n) { f.settings.version[i] = UnpackVersion(n); }

constexpr const char* VersionAccepts = "eight hexadecimal bytes, e.g. 10 11 12 13 14 15 16 17";

constexpr SettingRow Rows[] = {
    {"port1_version", Kind::Version, 0, 0, VersionAccepts,
     "Version bytes the EC shows at 0xD220 (port 1) and 0xD240 (port 2), hexadecimal.", VYK_VERSION(0)},
    {"port2_version", Kind::Version, 0, 0, VersionAccepts, "", VYK_VERSION(1)},
    {"busy_reads", Kind::Number, 0, 1000000, "a number of busy tests, 0..1000000",
     "How long PdCommand stays busy after a command: this many busy tests read it\n"
     "non-zero; or, when busy_micros is not 0, that many microseconds.",
     VYK_FIELD(settings.busyReads)},
    {"busy_micros", Kind::Number, 0, 60000000, "microseconds, 0..60000000", "", VYK_FIELD(settings.busyMicros)},
    {"stuck_busy", Kind::Flag, 0, 1, "yes or no",
     "Faults. stuck_busy: PdCommand never returns to 0. no_chip: every port read\n"
     "gives 0xFF. ignore_writes_port: 1 or 2, that flash ignores block writes (0: none).\n"
     "corrupt_reads: a block read returns the byte at corrupt_address inverted\n"
     "(a flash address as vykuu reads one: uppercase hexadecimal, no 0x).\n"
     "stuck_busy_after_blocks: when not 0, the block commands after this many stay busy.",
     VYK_FIELD(settings.faults.stuckBusy)},
    {"stuck_busy_after_blocks", Kind::Number, 0, 1000000, "a number of block commands, 0 (never) to 1000000", "",
     VYK_FIELD(settings.faults.stuckBusyAfterBlocks)},
    {"no_chip", Kind::Flag, 0, 1, "yes or no", "", VYK_FIELD(settings.faults.noChip)},
    {"ignore_writes_port", Kind::Number, 0, 2, "0, 1 or 2", "", VYK_FIELD(settings.faults.ignoreWritesPort)},
    {"corrupt_reads", Kind::Flag, 0, 1, "yes or no", "", VYK_FIELD(settings.faults.corruptReads)},
    {"corrupt_address", Kind::FlashAddress, 0, FlashSize - 1,
     "a flash address below 040000, as vykuu reads one: 1 to 6 uppercase hexadecimal digits without 0x (01FE10)",
     "", VYK_FIELD(settings.faults.corruptAddress)},
    {"pause_after_blocks", Kind::Number, 0, 1000000, "a number of block commands, 0..1000000 (0: never pause)",
     "When not 0: after this many block commands of a run the next one stays busy\n"
     "while the file \"paused\" is in this folder (the EC makes it; delete it to go on).",
     VYK_FIELD(settings.pauseAfterBlocks)},
    {"ac_online", Kind::Flag, 0, 1, "yes or no",
     "The notebook's power: on its charger (yes/no), and its battery's charge in percent.",
     VYK_FIELD(settings.acOnline)},
    {"battery_percent", Kind::Number, 0, 100, "a charge in percent, 0..100", "", VYK_FIELD(settings.batteryPercent)},
    {"mode", Kind::Mode, 0, 3, "normal, init, boot or flashing",
     "EC state, kept up to date by the simulator: normal, init, boot or flashing;\n"
     "the PD port the last selection named.",
     VYK_FIELD(mode)},
    {"selected_port", Kind::Number, 1, 2, "1 or 2", "", VYK_FIELD(selectedPort)},
};

#undef VYK_FIELD
#undef VYK_VERSION

const SettingRow* FindRow(std::string_view key)
{
    for (const SettingRow& row : Rows)
        if (key == row.name)
            return &row;
    return nullptr;
}

bool ParseValue(const SettingRow& row, std::string_view value, uint64_t& n)
{
    switch (row.kind) {
    case Kind::Version: {
        std::array<uint8_t, 8> v{};
        if (!ParseVersion(value, v))
            return false;
        n = PackVersion(v);
        return true;
    }
    case Kind::Number:
        return ParseUnsigned(value, row.max, n) && n >= row.min;
    case Kind::Flag:
        return ParseBool(value, n);
    case Kind::FlashAddress:
        return ParseFlashAddress(value, n);
    case Kind::Mode:
        for (size_t i = 0; i < std::size(ModeNames); ++i) {
            if (Lower(value) == ModeNames[i]) {
                n = i;
                return true;
            }
        }
        return false;
    }
    return false;
}

// "# " before each line of a comment.
std::string CommentLines(std::string_view text)
{
    std::string r;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        r += "# ";
        r += text.substr(0, nl);
        r += '\n';
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    }
    return r;
}

} // namespace

std::span<const SettingRow> SettingRows() { return Rows; }

std::string FormatSettingValue(const SettingRow& row, const SimSettingsFile& file)
{
    const uint64_t n = row.get(file);
    switch (row.kind) {
    case Kind::Version:
        return Hex8(UnpackVersion(n));
    case Kind::Number:
        return std::to_string(static_cast<int64_t>(n));
    case Kind::Flag:
        return YesNo(n != 0);
    case Kind::FlashAddress: {
        char addr[16];
        std::snprintf(addr, sizeof addr, "%06X", static_cast<unsigned>(n));
        return addr;
    }
    case Kind::Mode:
        return n < std::size(ModeNames) ? ModeNames[n] : ModeNames[0];
    }
    return "";
}

std::vector<std::string> SettingChoices(const SettingRow& row)
{
    switch (row.kind) {
    case Kind::Flag:
        return {"yes", "no"};
    case Kind::Mode:
        return {std::begin(ModeNames), std::end(ModeNames)};
    case Kind::Number: {
        std::vector<std::string> r;
        for (uint64_t n = row.min; row.max - row.min <= 2 && n <= row.max; ++n)
            r.push_back(std::to_string(n));
        return r;
    }
    case Kind::Version:
    case Kind::FlashAddress:
        break;
    }
    return {};
}

const char* EcModeName(EcMode mode)
{
    const auto i = static_cast<size_t>(mode);
    return i < std::size(ModeNames) ? ModeNames[i] : ModeNames[0];
}

void ApplySettingValue(SimSettingsFile& file, std::string_view key, std::string_view value,
                       const std::string& where)
{
    const SettingRow* row = FindRow(key);
    if (!row) {
        std::string known;
        for (const SettingRow& s : Rows)
            known += (known.empty() ? "" : ", ") + std::string(s.name);
        throw std::runtime_error(where + ": unknown key \"" + std::string(key) + "\" (known: " + known + ")");
    }
    uint64_t n = 0;
    if (!ParseValue(*row, value, n))
        Bad(where, key, value, row->accepts);
    row->set(file, n);
}

namespace {

// Every key with its value as settings.txt shows it, in the file's order.
std::vector<std::pair<std::string, std::string>> SettingValues(const SimSettingsFile& file)
{
    std::vector<std::pair<std::string, std::string>> r;
    for (const SettingRow& row : Rows)
        r.emplace_back(row.name, FormatSettingValue(row, file));
    return r;
}

} // namespace

std::string FormatSettingsText(const SimSettingsFile& file)
{
    std::string t = CommentLines(FileHeader) + "\n";
    for (const SettingRow& row : Rows) {
        if (*row.comment)
            t += (&row == Rows ? "" : "\n") + CommentLines(row.comment);
        t += std::string(row.name) + " = " + FormatSettingValue(row, file) + "\n";
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
