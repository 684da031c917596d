// vykuu reset: what puts a PD right that a run left in its boot loader
// (an EC that stopped answering, a second interrupt). The same CmdResetPd a
// safe stop sends, after the port's selection, each once the EC is idle.
#include "cli/Commands.h"
#include "cli/Connection.h"
#include "pd/Operations.h"

namespace vyk::cli {

namespace {

void Reset(const CommonOptions& common, const ResetOptions& options, Console& console, JsonSummary& summary)
{
    const std::string port = "port " + std::to_string(options.port);
    if (common.dryRun) {
        DryRunPorts(common, false, false, console, summary, "would send CmdResetPd to " + port);
        return;
    }

    platform::OpenBackend backend;
    Connect(common, false, false, console, summary, backend);
    pd::EcConnection connection(*backend.io, pd::PdPortOf(options.port));
    const auto busy = [&](const char* before) {
        return Failure(Fault::EcBusy,
                       "reset: " + port + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) + " " + before);
    };
    switch (pd::ResetPd(connection, pd::PdPortOf(options.port), ToDuration(common.timeoutSeconds))) {
    case pd::ResetEnd::BusyBeforeSelection: throw busy("before the port selection; nothing sent");
    case pd::ResetEnd::BusyAfterSelection: throw busy("after the port selection; no reset sent");
    case pd::ResetEnd::BusyAfterReset: throw busy("after CmdResetPd went out; it may not have been carried out");
    case pd::ResetEnd::Done: break;
    }
    summary.Set("resetSent", true);
    console.Note("reset: CmdResetPd sent to " + port + ", and the EC reports it done: the PD restarts with the "
                 "firmware it holds");
    console.SetAchieved("the reset of " + port + " completed");

    // What the port shows now, as a check that it answers.
    summary.SetRaw("versionsAfter", ReadVersionsOf(connection, {options.port}, common, true, console));
}

} // namespace

int RunReset(const CommonOptions& common, const ResetOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "reset");
    summary.Set("port", options.port);
    return Told(console, summary, [&] { Reset(common, options, console, summary); });
}

} // namespace vyk::cli
