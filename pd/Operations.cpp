#include "pd/Operations.h"

#include <algorithm>
#include <memory>

#include "pd/AddressField.h"
#include "pd/ClockText.h"
#include "pd/FlashReadSequence.h"
#include "pd/FlashWriteSequence.h"
#include "pd/VersionMonitor.h"

namespace vyk::pd {

namespace {

// The front end of a run without a window: lines to the request's log, the
// range and port as asked, nothing to switch on or off.
class RunFront final : public FrontEnd {
public:
    explicit RunFront(const RunRequest& request) : request_(request) {}

    // Asked after every line, so that progress moves inside the flash
    // write's single long tick too.
    void SetProgress(std::function<void()> progress) { progress_ = std::move(progress); }

    void AddLogLine(std::string_view text) override
    {
        if (request_.log)
            request_.log(text);
        if (progress_)
            progress_();
    }
    // With no monitor ticking beside the run, the clock is read for each
    // stamp: it shows when the line was written.
    void AddStampedLogLine(std::string_view text) override
    {
        RefreshClock();
        AddLogLine(StampedLine(dateText_, timeText_, text));
    }
    void ScrollLogLineDown() override {}
    RangeChoice RangeFor(SequenceKind) override { return {request_.range, {}}; }
    PdPort ChosenPort() override { return request_.port; }
    // Never named: a run starts only on ports that answered.
    std::string PortStatusText() override { return "no port access"; }
    void SequenceStarted(SequenceKind) override {}
    void SequenceEnded(SequenceKind, SequenceOutcome) override {}
    void RefreshClock() override
    {
        const std::tm now = LocalNow();
        dateText_ = FormatDateText(now);
        timeText_ = FormatTimeText(now);
    }
    void VersionRead(PdPort port, const uint8_t* version8) override
    {
        read.emplace();
        read->port = port;
        std::copy(version8, version8 + VersionSize, read->bytes.begin());
    }

    // The last version the monitor read.
    std::optional<PortVersion> read;

private:
    const RunRequest& request_;
    std::function<void()> progress_;
    std::string dateText_, timeText_;
};

uint32_t BlocksOf(const FlashRange& range) { return BlockOf(range.end) - BlockOf(range.start); }

RunResult Stalled(SequenceState state, std::string waitingFor, PdAfter pd, uint32_t done, uint32_t total)
{
    RunResult result;
    result.outcome = SequenceOutcome::Running;
    result.stalled = true;
    result.stalledIn = state;
    result.waitingFor = std::move(waitingFor);
    result.pd = pd;
    result.blocksDone = done;
    result.blocksTotal = total;
    return result;
}

// Ticks the sequence back to back until it ends, or until the EC has held
// it in one place (the same state, the same block count) for the bound.
RunResult Drive(FirmwareSequence& sequence, const RunRequest& request, const std::function<void()>& progress)
{
    const uint32_t total = BlocksOf(request.range);
    StallWatch watch(request.busyBound);
    const auto mark = [&] { return (uint64_t{static_cast<uint32_t>(sequence.State())} << 32) | sequence.BlocksDone(); };
    watch.Stalled(mark());
    while (sequence.Running()) {
        sequence.Tick();
        progress();
        if (!sequence.Running())
            break;
        if (watch.Stalled(mark()))
            return Stalled(sequence.State(), sequence.WaitingFor(), sequence.PdState(), sequence.BlocksDone(), total);
    }
    RunResult result;
    result.outcome = sequence.Outcome();
    result.pd = sequence.PdState();
    result.blocksDone = sequence.BlocksDone();
    result.blocksTotal = total;
    return result;
}

RunResult Run(EcConnection& link, FirmwareSequence& sequence, RunFront& front, const RunRequest& request)
{
    // The first tick fills the transfer window without a busy test. Back to
    // back, it would come while the EC still works on the reset or the port
    // selection that ended the step before, which the window leaves a timer
    // tick at least: the EC is let finish first.
    if (!link.mailbox.WaitIdle(request.busyBound))
        return Stalled(SequenceState::FillWindow, "the EC to be idle before the window fill", PdAfter::NotTouched, 0,
                       BlocksOf(request.range));
    const auto progress = [&] {
        if (request.progress)
            request.progress(sequence.BlocksDone(), sequence.BlocksTotal());
    };
    front.SetProgress(progress);
    sequence.SetStopRequest(request.stop);
    sequence.StartOnRange(request.range);
    return Drive(sequence, request, progress);
}

} // namespace

RunResult ReadFlash(EcConnection& link, const RunRequest& request, ImageStore& store)
{
    RunFront front(request);
    FlashReadSequence read(link.mailbox, store, link.ports, front, request.busyBound);
    return Run(link, read, front, request);
}

RunResult WriteFlash(EcConnection& link, const RunRequest& request, ImageStore& image)
{
    RunFront front(request);
    FlashWriteSequence write(link.mailbox, image, link.ports, front, request.busyBound);
    return Run(link, write, front, request);
}

VerifyResult VerifyFlash(EcConnection& link, const RunRequest& request, const ImageStore& image)
{
    VerifyResult result;
    auto back = std::make_unique<ImageStore>();
    result.run = ReadFlash(link, request, *back);
    if (!result.run.Completed())
        return result;
    const uint32_t first = BlockOf(request.range.start) << 8;
    const size_t length = size_t{result.run.blocksTotal} * DataWindowSize;
    result.compared = CompareFlash(SentBytes(image, first), back->ImageBuffer.data(), first, length);
    return result;
}

VersionsResult ReadVersions(EcConnection& link, const std::vector<PdPort>& ports,
                            std::chrono::steady_clock::duration busyBound)
{
    RunRequest request;
    RunFront front(request);
    VersionMonitor monitor(link.mailbox, link.ports, front);
    VersionsResult result;
    for (const PdPort port : ports) {
        request.port = port;
        link.ForceSelection(port);
        front.read.reset();
        // The first tick selects the port, the next one reads its version;
        // each waits for the EC to be idle, which the monitor itself never does.
        for (int tick = 0; tick < 3 && !front.read; ++tick) {
            if (!link.mailbox.WaitIdle(busyBound)) {
                result.failedAt = port;
                result.ecBusy = true;
                return result;
            }
            monitor.Tick();
        }
        if (!front.read || front.read->port != port) {
            result.failedAt = port;
            return result;
        }
        result.versions.push_back(*front.read);
    }
    return result;
}

ResetEnd ResetPd(EcConnection& link, PdPort port, std::chrono::steady_clock::duration busyBound)
{
    if (!link.mailbox.WaitIdle(busyBound))
        return ResetEnd::BusyBeforeSelection;
    SendSelectionIfDue(link.mailbox, link.ports, port);
    if (!link.mailbox.WaitIdle(busyBound))
        return ResetEnd::BusyAfterSelection;
    link.mailbox.IssueCommand(CmdResetPd);
    if (!link.mailbox.WaitIdle(busyBound))
        return ResetEnd::BusyAfterReset;
    return ResetEnd::Done;
}

} // namespace vyk::pd
