#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/JsonSummary.h"
#include "platform/MachineInfo.h"
#include "platform/OutputFile.h"
#include "platform/PortBackend.h"
#include "platform/Sha256.h"

namespace vyk::cli {

inline constexpr const char* DefaultStartText = "00C000";
inline constexpr const char* DefaultEndText = "01FF00";
inline constexpr double DefaultTimeoutSeconds = 5.0;

struct CommonOptions {
    platform::BackendChoice backend;
    double timeoutSeconds = DefaultTimeoutSeconds;
    bool dryRun = false;
    // The tool's version, for the records it writes beside its files.
    std::string toolVersion;
};

struct RangeOptions {
    int port = 1;
    std::string startText = DefaultStartText;
    std::string endText = DefaultEndText;
};

struct FlashOptions {
    RangeOptions range;
    std::string imagePath;
    bool verify = true;
    // A file that ends before the range's end is refused unless this is set:
    // the blocks past it would go out as 0xFF.
    bool allowShort = false;
    // The flash address of the file's first byte, as address text; empty:
    // 0, the file is an image of the whole flash. A file saved by
    // 'read --start S' flashes back with S.
    std::string imageAtText;
    // Read the range into this file first, as 'read' would; nothing is
    // written to the flash when that fails. Empty: no backup.
    std::string backupPath;
    // Flash on battery below 30 % anyway.
    bool allowBattery = false;
    // Flash a range that starts below the default start 00C000.
    bool allowLowRange = false;
    // Flash a file whose record names another port or notebook, or no
    // longer matches it.
    bool force = false;
};

struct ReadOptions {
    RangeOptions range;
    std::string outputPath;
    // Replace an existing output file.
    bool force = false;
};

struct VersionOptions {
    int port = 0;   // 0: both
};

struct ResetOptions {
    int port = 1;
};

// Each returns the exit code; the summary gains the details, and errors
// are told on the console as they happen.
int RunFlash(const CommonOptions& common, const FlashOptions& options, Console& console, JsonSummary& summary);
int RunRead(const CommonOptions& common, const ReadOptions& options, Console& console, JsonSummary& summary);
int RunVersion(const CommonOptions& common, const VersionOptions& options, Console& console, JsonSummary& summary);
// Sends a PD back from its boot loader to the firmware it holds.
int RunReset(const CommonOptions& common, const ResetOptions& options, Console& console, JsonSummary& summary);

// A flash on a low battery (pd/PowerRule.h): refused (Failure with
// ExitOnBattery) unless allowed, and said either way.
void CheckPower(const platform::Power& power, bool allowBattery, Console& console);

} // namespace vyk::cli
