// vykuu reset: what puts a PD right that a run left in its boot loader
// (an EC that stopped answering, a second interrupt). The same CmdResetPd a
// safe stop sends, after the port's selection, each once the EC is idle.
#include "cli/Commands.h"
#include "cli/EcSession.h"
#include "pd/Mailbox.h"
#include "pd/PortSelection.h"

namespace vyk::cli {

namespace {

void Reset(const CommonOptions& common, const ResetOptions& options, Console& console, JsonSummary& summary)
{
    const std::string port = "port " + std::to_string(options.port);
    if (common.dryRun) {
        DryRunPorts(common, false, false, console, summary, "would send CmdResetPd to " + port);
        return;
    }

    OpenBackend backend;
    Connect(common, false, false, console, summary, backend);
    Session session(*backend.io, options.port);
    const auto bound = ToDuration(common.timeoutSeconds);
    const auto busy = [&](const char* before) {
        return Failure(Fault::EcBusy,
                       "reset: " + port + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) + " " + before);
    };
    if (!session.mailbox.WaitIdle(bound))
        throw busy("before the port selection; nothing sent");
    pd::SendSelectionIfDue(session.mailbox, session.ports, options.port == 1);
    if (!session.mailbox.WaitIdle(bound))
        throw busy("after the port selection; no reset sent");
    session.mailbox.IssueCommand(pd::CmdResetPd);
    if (!session.mailbox.WaitIdle(bound))
        throw busy("after CmdResetPd went out; it may not have been carried out");
    summary.Set("resetSent", true);
    console.Note("reset: CmdResetPd sent to " + port + ", and the EC reports it done: the PD restarts with the "
                 "firmware it holds");
    console.SetAchieved("the reset of " + port + " completed");

    // What the port shows now, as a check that it answers.
    ConsoleView view(console, DefaultStartText, DefaultEndText, options.port);
    summary.SetRaw("versionsAfter", ReadVersionsOf(session, view, {options.port}, common, true, console));
}

} // namespace

int RunReset(const CommonOptions& common, const ResetOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "reset");
    summary.Set("port", options.port);
    return Told(console, summary, [&] { Reset(common, options, console, summary); });
}

} // namespace vyk::cli
