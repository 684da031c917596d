#pragma once

namespace vyk::cli {

// Scripts branch on these; keep them stable and keep the --help text and
// the README in step with them.
enum ExitCode : int {
    ExitOk = 0,
    ExitInternal = 1,      // something this tool did not foresee
    ExitUsage = 2,         // bad arguments, address text or range
    ExitFile = 3,          // image unreadable, too large, short or empty; output refused or not writable; stdout lost
    ExitNoPortAccess = 4,  // ports refused, port library missing, driver closed, simulator folder unusable
    ExitEcBusy = 5,        // the EC did not return to idle within --timeout
    ExitVerify = 6,        // read-back differs from the image
    ExitRangeRefused = 7,  // the range does not fit the flash or the image buffer
    ExitInterrupted = 8,   // stopped by a signal: the block in flight completed, the PD was reset
    ExitEcInUse = 9,       // another program drives the EC or holds the simulator folder; nothing touched
    ExitNoEc = 10,         // no EC answers at 0x4E/0x4F: every read gives 0xFF
    ExitOnBattery = 11,    // flash refused: on battery below 30 % (--allow-battery)
    ExitNotVerified = 12,  // stopped by a signal once the write was whole: validated, PD reset, not read back
};

inline constexpr const char* ExitCodeHelp =
    "Exit codes:\n"
    "  0  success\n"
    "  1  internal error\n"
    "  2  usage error (arguments, an unknown command, address text)\n"
    "  3  image file unreadable, too large, too short, text (not a raw image) or with no byte in the\n"
    "     range, or its record (FILE.json) names another port, notebook, start or SHA-256 (--force);\n"
    "     output refused (it exists, without --force), backup refused (it exists and does not hold\n"
    "     the range: another range or notebook, or a flash was interrupted); a read-only file,\n"
    "     one inside the simulator folder, or one that cannot be written; standard output or error\n"
    "     not writable (when that happens after a command that completed, the message says what completed)\n"
    "  4  no port access (ports refused, port library missing, driver not open, simulator folder unusable)\n"
    "  5  the EC stayed busy longer than --timeout (the message says what the PD may be left in\n"
    "     and what puts it right, e.g. vykuu reset --port N)\n"
    "  6  verify mismatch (the first differing flash address is named, and the next step)\n"
    "  7  range refused (start not below end, beyond the 256 KiB flash, or a flash below 00C000\n"
    "     without --allow-low-range)\n"
    "  8  interrupted (SIGINT, SIGTERM, SIGHUP, Ctrl+C, Ctrl+Break, console closed): the block in\n"
    "     flight completed, no further block and no validate was sent, the PD was reset\n"
    "  9  the EC is in use: another vykuu, the window VYK_UU.exe, or another user of the\n"
    "     simulator folder holds it; nothing was touched\n"
    " 10  no EC answers at ports 0x4E/0x4F (every read gives 0xFF)\n"
    " 11  flash refused: the notebook runs on battery below 30 % (--allow-battery)\n"
    " 12  interrupted once the write was complete: every block written, validated and the PD\n"
    "     reset, but not read back and compared (flash again to have it verified)\n"
    "A second interrupt ends at once, by its signal (130 for SIGINT in a shell); --json still\n"
    "prints the record, with interrupted, signal, blocksWritten and pdState.\n";

} // namespace vyk::cli
