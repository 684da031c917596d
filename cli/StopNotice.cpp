// What vykuu says when a signal or console event stops it: the note on the
// first, and on the second the advice for the PD and the --json record as it
// stands, with what ended it. The handlers themselves are the platform's.
#include "cli/StopNotice.h"

namespace vyk::cli {

namespace {

constexpr const char FirstNote[] =
    "\nvykuu: interrupted: stopping after the block in flight, then resetting the PD; "
    "interrupt again to end at once (that may leave the PD in flashing mode)\n";

void FirstWords() { platform::WriteAtOnce(2, FirstNote, sizeof FirstNote - 1); }

} // namespace

void InstallStopHandlers() { platform::InstallStopHandlers({FirstWords, platform::WriteHardStop}); }

} // namespace vyk::cli
