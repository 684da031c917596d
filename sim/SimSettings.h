#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimNotebook.h"

namespace vyk::sim {

// Everything settings.txt holds: the settings proper plus the little EC state
// that must outlive a process (flashing mode and the selected port).
struct SimSettingsFile {
    Settings settings;
    EcMode mode = EcMode::Normal;
    int selectedPort = 1;
};

// One key of settings.txt. The table of them is the one place a setting is
// named: the file, its comments, vyksimctl's help and the shell completion
// are all made from it. Each value is carried as a number (the eight version
// bytes too, first byte highest; a mode as its index).
struct SettingRow {
    enum class Kind {
        Version,        // eight hexadecimal bytes
        Number,         // min..max, decimal or 0x hexadecimal
        Flag,           // yes or no
        FlashAddress,   // as vykuu reads an address
        Mode,           // normal, init, boot or flashing
    };
    const char* name;
    Kind kind;
    uint64_t min, max;     // Number
    const char* accepts;   // what a value may be, as errors and the help say
    const char* comment;   // written above the key in a fresh file ("" none)
    uint64_t (*get)(const SimSettingsFile&);
    void (*set)(SimSettingsFile&, uint64_t);
};

// Every key, in the order a fresh file has them.
std::span<const SettingRow> SettingRows();

// The key's value as settings.txt writes it.
std::string FormatSettingValue(const SettingRow& row, const SimSettingsFile& file);

// The few values a key takes, for completion: a flag's, a mode's, a number's
// of at most three values; none for the others.
std::vector<std::string> SettingChoices(const SettingRow& row);

// The commented key = value text of settings.txt.
std::string FormatSettingsText(const SimSettingsFile& file);

// `text` (a settings.txt as found) brought up to `file`: a line whose value
// differs gets the new value in place, its spacing and comment kept; keys
// the text lacks are appended when they differ from their default; every
// other byte stays as it was. `text` must parse.
std::string UpdateSettingsText(std::string_view text, const SimSettingsFile& file);

// Parses settings.txt; keys left out keep their current value in `out`.
// Throws std::runtime_error naming the file, the line and the key.
void ParseSettingsText(std::string_view text, const std::string& fileName, SimSettingsFile& out);

// One key = value, as in settings.txt. Throws std::runtime_error naming the
// key and the accepted values; `where` prefixes the message.
void ApplySettingValue(SimSettingsFile& file, std::string_view key, std::string_view value,
                       const std::string& where);

const char* EcModeName(EcMode mode);

} // namespace vyk::sim
