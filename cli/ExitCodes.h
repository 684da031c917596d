#pragma once

namespace vyk::cli {

// Scripts branch on these; keep them stable and keep the --help text and
// the README in step with them.
enum ExitCode : int {
    ExitOk = 0,
    ExitInternal = 1,      // something this tool did not foresee
    ExitUsage = 2,         // bad arguments, address text or range
    ExitFile = 3,          // image unreadable, too large or short; output not writable
    ExitNoPortAccess = 4,  // ports refused, port library missing, driver closed, simulator folder unusable
    ExitEcBusy = 5,        // the EC did not return to idle within --timeout
    ExitVerify = 6,        // read-back differs from the image
    ExitRangeRefused = 7,  // the range does not fit the flash or the image buffer
};

inline constexpr const char* ExitCodeHelp =
    "Exit codes:\n"
    "  0  success\n"
    "  1  internal error\n"
    "  2  usage error (arguments, address text)\n"
    "  3  image or output file unreadable, unwritable, too large or too short\n"
    "  4  no port access (ports refused, port library missing, driver not open, simulator folder unusable)\n"
    "  5  the EC stayed busy longer than --timeout\n"
    "  6  verify mismatch (the first differing flash address is named)\n"
    "  7  range refused (start not below end, or beyond the 256 KiB flash)\n";

} // namespace vyk::cli
