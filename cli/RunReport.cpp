#include "cli/RunReport.h"

#include "cli/StopNotice.h"

namespace vyk::cli {

std::string ToolText(const CommonOptions& common)
{
    std::string text = "vykuu";
    if (!common.backend.simDir.empty())
        text += " --sim " + pd::ShellWord(common.backend.simDir);
    if (!common.backend.portLibrary.empty())
        text += " --port-library " + pd::ShellWord(common.backend.portLibrary);
    return text;
}

namespace {

// Where the PD may be in its boot loader, the advice that brings it back,
// with the blocks a write got to.
Failure TellLeft(Failure failure, const Phase& phase, const pd::RunResult& result)
{
    if (!phase.left || result.pd != pd::PdAfter::MayBeInBootLoader)
        return failure;
    PdLeft left = *phase.left;
    if (phase.flash) {
        left.blocksWritten = result.blocksDone;
        left.blocksTotal = result.blocksTotal;
    }
    return failure.Advise(pd::BootLoaderAdvice(left));
}

// The Failure of a run that did not complete; nothing for one that did.
void Render(const pd::RunResult& result, const Phase& phase, const Range& range, const CommonOptions& common)
{
    const std::string who = phase.who;
    const std::string done = std::to_string(result.blocksDone) + " of " + std::to_string(result.blocksTotal) +
                             " blocks";
    // The wait before the window fill comes before the run: no stop is told there.
    const bool began = result.stalledIn != pd::SequenceState::FillWindow;
    const std::string interrupted = began && StopRequest() ? "; interrupted" : "";
    if (result.stalled)
        throw TellLeft(Failure(Fault::EcBusy, who + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) +
                                                  " waiting for " + result.waitingFor + " (state " +
                                                  std::to_string(static_cast<int>(result.stalledIn)) + ", " + done +
                                                  " done)" + interrupted),
                       phase, result);
    switch (result.outcome) {
    case pd::SequenceOutcome::Completed:
        return;
    case pd::SequenceOutcome::RangeRefused:
        throw Failure(Fault::RangeRefused, who + ": range refused (see the log)");
    case pd::SequenceOutcome::EcStayedBusy:
        throw TellLeft(Failure(Fault::EcBusy, "EC stayed busy for " + SecondsText(common.timeoutSeconds) + " (" +
                                                  done + " done)" + interrupted)
                           .Within("block at " + Hex((range.startBlock + result.blocksDone) << 8, 6))
                           .Within(who),
                       phase, result);
    case pd::SequenceOutcome::NoPortAccess:
        throw Failure(Fault::NoPortAccess, who + ": no port access; nothing sent");
    case pd::SequenceOutcome::Stopped:
        if (result.pd == pd::PdAfter::NotTouched)
            throw Interruption(who + ": interrupted before CmdInit; the PD was not touched" + phase.afterStop);
        throw Interruption(who + ": interrupted after " + done + "; no validate sent; PD reset" + phase.afterStop);
    default:
        throw Failure(Fault::Internal, who + ": sequence ended without an outcome");
    }
}

} // namespace

void RunPhase(const Phase& phase, const Range& range, int port, const CommonOptions& common, Console& console,
              const Operation& operation)
{
    pd::RunRequest request;
    request.range = {range.start, range.end};
    request.port = pd::PdPortOf(port);
    request.busyBound = ToDuration(common.timeoutSeconds);
    request.stop = &StopRequest();
    request.log = [&](std::string_view line) { console.LogLine(line); };
    request.progress = [&](uint32_t done, uint32_t total) {
        if (phase.flash)
            SetHardStopBlocks(done);
        console.Progress(done, total);
    };
    console.BeginProgress(phase.flash ? "flash" : phase.who);
    if (phase.left) {
        SetHardStopText(pd::HardStopAdvice(*phase.left));
        SetHardStopPdState(JsonText(pd::PdStateText(*phase.left)), phase.flash);
    }
    const pd::RunResult result = operation(request);
    SetHardStopText({});
    SetHardStopPdState({}, false);
    console.EndProgress();
    Render(result, phase, range, common);
}

void ReadRange(pd::EcConnection& connection, pd::ImageStore& store, const Phase& phase, const Range& range, int port,
               const CommonOptions& common, Console& console)
{
    RunPhase(phase, range, port, common, console,
             [&](const pd::RunRequest& request) { return pd::ReadFlash(connection, request, store); });
    if (static_cast<size_t>(store.ImageLength) != size_t{range.Blocks()} * 256)
        throw Failure(Fault::Internal, std::string(phase.who) + ": read " + std::to_string(store.ImageLength) +
                                        " bytes, expected " + std::to_string(size_t{range.Blocks()} * 256));
}

} // namespace vyk::cli
