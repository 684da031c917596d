#pragma once

namespace vyk::cli {

// Scripts branch on these; keep them stable and keep the --help text and
// the README in step with them.
enum ExitCode : int {
    ExitOk = 0,
    ExitInternal = 1,      // something this tool did not foresee
    ExitUsage = 2,         // bad arguments, address text or range
    ExitFile = 3,          // image unreadable, too large or short; output or standard output not writable
    ExitNoPortAccess = 4,  // ports refused, port library missing, driver closed, simulator folder unusable
    ExitEcBusy = 5,        // the EC did not return to idle within --timeout
    ExitVerify = 6,        // read-back differs from the image
    ExitRangeRefused = 7,  // the range does not fit the flash or the image buffer
    ExitInterrupted = 8,   // stopped by a signal: the block in flight completed, the PD was reset
    ExitEcInUse = 9,       // another program drives the EC or holds the simulator folder; nothing touched
    ExitNoEc = 10,         // no EC answers at 0x4E/0x4F: every read gives 0xFF
    ExitOnBattery = 11,    // flash refused: on battery below 30 % (--allow-battery)
};

inline constexpr const char* ExitCodeHelp =
    "Exit codes:\n"
    "  0  success\n"
    "  1  internal error\n"
    "  2  usage error (arguments, address text)\n"
    "  3  image or output file unreadable, unwritable, too large or too short; standard output not writable\n"
    "  4  no port access (ports refused, port library missing, driver not open, simulator folder unusable)\n"
    "  5  the EC stayed busy longer than --timeout\n"
    "  6  verify mismatch (the first differing flash address is named)\n"
    "  7  range refused (start not below end, or beyond the 256 KiB flash)\n"
    "  8  interrupted (SIGINT, SIGTERM, SIGHUP, Ctrl+C, Ctrl+Break, console closed): the block in\n"
    "     flight completed, no further block and no validate was sent, the PD was reset\n"
    "  9  the EC is in use: another vykuu, the window VYK_UU.exe, or another user of the\n"
    "     simulator folder holds it; nothing was touched\n"
    " 10  no EC answers at ports 0x4E/0x4F (every read gives 0xFF)\n"
    " 11  flash refused: the notebook runs on battery below 30 % (--allow-battery)\n";

} // namespace vyk::cli
