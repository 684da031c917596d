#pragma once
#include <string>
#include <string_view>

#include "sim/SimNotebook.h"

namespace vyk::sim {

// Everything settings.txt holds: the settings proper plus the little EC state
// that must outlive a process (flashing mode and the selected port).
struct SimSettingsFile {
    Settings settings;
    EcMode mode = EcMode::Normal;
    int selectedPort = 1;
};

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
