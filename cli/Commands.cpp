#include "cli/Commands.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "cli/ConsoleView.h"
#include "hw/EcRam.h"
#include "pd/AddressField.h"
#include "pd/FlashReadSequence.h"
#include "pd/FlashWriteSequence.h"
#include "pd/HexText.h"
#include "pd/ImageBuffer.h"
#include "pd/Mailbox.h"
#include "pd/PortSelection.h"
#include "pd/VersionMonitor.h"

namespace vyk::cli {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

Clock::duration ToDuration(double seconds)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string SecondsText(double seconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", seconds);
    return buf;
}

std::string Hex(uint32_t value, int digits) { return "0x" + pd::HexDigits(value, digits); }

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Fail(Console& console, JsonSummary& summary, int code, const std::string& message)
{
    console.Error(message);
    summary.Set("error", message);
    return code;
}

struct Range {
    uint32_t start = 0, end = 0;
    uint32_t startBlock = 0, endBlock = 0;
    uint32_t Blocks() const { return endBlock - startBlock; }
};

// The same parse as the window's fields; the text is refused beforehand
// only where that parse would quietly read something else than was meant.
int CheckRange(const RangeOptions& options, Console& console, JsonSummary& summary, Range& range)
{
    summary.Set("port", options.port);
    summary.Set("start", options.startText);
    summary.Set("end", options.endText);
    for (const auto* text : {&options.startText, &options.endText}) {
        const std::string problem = pd::AddressTextProblem(*text);
        if (!problem.empty())
            return Fail(console, summary, ExitUsage, problem);
    }
    range.start = pd::ReadAddressField(options.startText);
    range.end = pd::ReadAddressField(options.endText);
    range.startBlock = pd::BlockOf(range.start);
    range.endBlock = pd::BlockOf(range.end);
    // Refused here, before the EC is walked into flashing mode for nothing.
    if (range.startBlock >= range.endBlock)
        return Fail(console, summary, ExitRangeRefused,
                    "range refused: start block " + Hex(range.startBlock, 4) + " (" + options.startText +
                        ") is not below end block " + Hex(range.endBlock, 4) + " (" + options.endText + ")");
    if (range.endBlock > pd::ImageBufferBlocks)
        return Fail(console, summary, ExitRangeRefused,
                    "range refused: end block " + Hex(range.endBlock, 4) +
                        " lies past the flash's last block 0x03FF (256 KiB)");
    summary.Set("firstBlock", pd::HexDigits(range.startBlock, 4));
    summary.Set("endBlock", pd::HexDigits(range.endBlock, 4));
    summary.Set("blocks", range.Blocks());
    return ExitOk;
}

// One front end's worth of state, as the window holds it.
struct Session {
    Session(PortIo& io, int port) : ec(&io), mailbox(ec)
    {
        // What the window does at start and at its first monitor tick.
        mailbox.EcSetup();
        mailbox.SetPresence(true);
        ForceSelection(port);
    }
    ~Session()
    {
        // A destructor must not throw: a simulator folder that has become
        // unwritable only loses the presence flag.
        try {
            mailbox.SetPresence(false);
        } catch (const std::exception&) {
        }
    }

    // The EC may have either port selected (another run, the window): make
    // the sequence send the selection of the wanted port itself.
    void ForceSelection(int port) { ports.Port1Selected = port != 1; }

    EcRam ec;
    pd::Mailbox mailbox;
    pd::PortSelection ports;
};

// What a state of either sequence waits for when its once-per-tick busy
// test keeps reading busy.
std::string WaitText(bool flash, int state, uint32_t blocksDone)
{
    switch (state) {
    case 1: return "the port selection";
    case 2: return "the EC to be idle before CmdInit";
    case 3: return "CmdInit";
    case 4: return "CmdJumpBoot";
    case 5: return "CmdEnterFlash";
    case 6: return blocksDone == 0 ? "CmdEnterFlash" : "the previous block";
    case 7: return flash ? "the last CmdWriteBlock" : "CmdReadBlock";
    case 8: return flash ? "the last CmdWriteBlock" : "the EC to be idle before CmdValidate";
    case 9: return "CmdValidate";
    default: return "the EC";
    }
}

struct DriveEnd {
    bool stalled = false;
    int state = 0;
};

// Ticks a sequence with no pacing until it stops. A tick whose busy test
// reads busy changes nothing, so the loop gives up once neither the state
// nor the block count has moved for `limit`.
template <class Sequence>
DriveEnd Drive(Sequence& sequence, void (Sequence::*tick)(), int (Sequence::*state)() const, Clock::duration limit,
               const std::function<void()>& progress)
{
    int lastState = (sequence.*state)();
    uint32_t lastDone = sequence.BlocksDone();
    Clock::time_point since = Clock::now();
    while (sequence.Running()) {
        (sequence.*tick)();
        progress();
        const int nowState = (sequence.*state)();
        const uint32_t nowDone = sequence.BlocksDone();
        if (nowState != lastState || nowDone != lastDone) {
            lastState = nowState;
            lastDone = nowDone;
            since = Clock::now();
        } else if (Clock::now() - since > limit) {
            return {true, nowState};
        }
    }
    return {};
}

// Runs one sequence to its end and turns how it ended into an exit code.
template <class Sequence>
int RunSequence(Sequence& sequence, void (Sequence::*click)(), void (Sequence::*tick)(),
                int (Sequence::*state)() const, bool flash, const char* what, const Range& range,
                const CommonOptions& common, Console& console, ConsoleView& view, JsonSummary& summary)
{
    const auto progress = [&] { console.Progress(sequence.BlocksDone(), sequence.BlocksTotal()); };
    console.BeginProgress(flash ? "flash" : (std::string_view(what) == "verify" ? "verify" : "read"));
    view.SetProgressSource(progress);
    (sequence.*click)();
    const DriveEnd end = Drive(sequence, tick, state, ToDuration(common.timeoutSeconds), progress);
    view.SetProgressSource({});
    console.EndProgress();

    const std::string who = what;
    if (end.stalled)
        return Fail(console, summary, ExitEcBusy,
                    who + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) + " waiting for " +
                        WaitText(flash, end.state, sequence.BlocksDone()) + " (state " +
                        std::to_string(end.state) + ", " + std::to_string(sequence.BlocksDone()) + " of " +
                        std::to_string(range.Blocks()) + " blocks done)");
    switch (sequence.Outcome()) {
    case pd::SequenceOutcome::Completed:
        return ExitOk;
    case pd::SequenceOutcome::RangeRefused:
        return Fail(console, summary, ExitRangeRefused, who + ": range refused (see the log)");
    case pd::SequenceOutcome::EcStayedBusy:
        return Fail(console, summary, ExitEcBusy,
                    who + ": block " + Hex(range.startBlock + sequence.BlocksDone(), 4) + ": EC stayed busy for " +
                        SecondsText(common.timeoutSeconds) + " (" + std::to_string(sequence.BlocksDone()) + " of " +
                        std::to_string(range.Blocks()) + " blocks done)");
    default:
        return Fail(console, summary, ExitInternal, who + ": sequence ended without an outcome");
    }
}

int OpenForRun(const CommonOptions& common, Console& console, JsonSummary& summary, OpenBackend& backend)
{
    try {
        backend = OpenPorts(common.backend);
    } catch (const NoPortAccess& e) {
        return Fail(console, summary, ExitNoPortAccess, e.what());
    }
    summary.Set("backend", backend.description);
    return ExitOk;
}

int DryRunPorts(const CommonOptions& common, Console& console, JsonSummary& summary, const std::string& plan)
{
    std::string ports;
    try {
        ports = CheckPortsDry(common.backend);
    } catch (const NoPortAccess& e) {
        return Fail(console, summary, ExitNoPortAccess, e.what());
    }
    summary.Set("backend", ports);
    summary.Set("dryRun", true);
    console.Note("dry run: " + plan + "; backend: " + ports + "; no port touched");
    return ExitOk;
}

// The file reaches its final name whole or not at all.
bool FlushToDisk(const std::string& path)
{
#ifndef _WIN32
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
#else
    (void)path;
    return true;
#endif
}

std::string TempNameBeside(const std::string& path)
{
#ifdef _WIN32
    const unsigned long pid = static_cast<unsigned long>(_getpid());
#else
    const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
    return path + ".vykuu-" + std::to_string(pid) + ".tmp";
}

} // namespace

int RunFlash(const CommonOptions& common, const FlashOptions& options, Console& console, JsonSummary& summary)
{
    const Clock::time_point began = Clock::now();
    summary.Set("command", "flash");
    Range range;
    if (const int code = CheckRange(options.range, console, summary, range); code != ExitOk)
        return code;
    summary.Set("image", options.imagePath);
    summary.Set("verify", options.verify);

    std::error_code ec;
    if (!fs::is_regular_file(options.imagePath, ec))
        return Fail(console, summary, ExitFile, "image file " + options.imagePath + " does not exist or is not a file");
    const auto size = fs::file_size(options.imagePath, ec);
    if (ec)
        return Fail(console, summary, ExitFile, "image file " + options.imagePath + ": " + ec.message());
    if (size > static_cast<uintmax_t>(pd::ImageBufferSize))
        return Fail(console, summary, ExitFile,
                    "image file " + options.imagePath + " holds " + std::to_string(size) +
                        " bytes, more than the 262146 the image buffer takes");
    const uint64_t rangeEnd = uint64_t{range.endBlock} << 8;
    if (size < rangeEnd && !options.allowShort)
        return Fail(console, summary, ExitFile,
                    "image file " + options.imagePath + " ends at " + Hex(static_cast<uint32_t>(size), 6) +
                        ", before the range's end " + Hex(static_cast<uint32_t>(rangeEnd), 6) +
                        ": the blocks past it would be written as 0xFF. An image is indexed by flash address from 0; "
                        "a file saved by 'read' starts at its range's start instead. Use --allow-short to flash it anyway");

    ConsoleView view(console, options.range.startText, options.range.endText, options.range.port);
    auto image = std::make_unique<pd::ImageStore>();
    if (!pd::LoadImageFile(*image, options.imagePath, view))
        return Fail(console, summary, ExitFile, "image file " + options.imagePath + " could not be loaded (see the log)");

    if (common.dryRun)
        return DryRunPorts(common, console, summary,
                           "would flash " + std::to_string(range.Blocks()) + " blocks " + Hex(range.startBlock, 4) +
                               ".." + Hex(range.endBlock - 1, 4) + " of port " + std::to_string(options.range.port) +
                               (options.verify ? " and verify them" : ""));

    OpenBackend backend;
    if (const int code = OpenForRun(common, console, summary, backend); code != ExitOk)
        return code;
    Session session(*backend.io, options.range.port);

    pd::FlashWriteSequence write(session.mailbox, *image, session.ports, view, ToDuration(common.timeoutSeconds));
    int code = RunSequence(write, &pd::FlashWriteSequence::Button2Click, &pd::FlashWriteSequence::Timer2Timer,
                           &pd::FlashWriteSequence::FlashState, true, "flash write", range, common, console, view,
                           summary);
    summary.Set("blocksWritten", write.BlocksDone());
    if (code != ExitOk)
        return code;

    if (options.verify) {
        auto back = std::make_unique<pd::ImageStore>();
        pd::FlashReadSequence read(session.mailbox, *back, session.ports, view, ToDuration(common.timeoutSeconds));
        code = RunSequence(read, &pd::FlashReadSequence::Button3Click, &pd::FlashReadSequence::Timer3Timer,
                           &pd::FlashReadSequence::ReadState, false, "verify", range, common, console, view, summary);
        if (code != ExitOk)
            return code;
        const size_t length = static_cast<size_t>(range.Blocks()) * 256;
        if (static_cast<size_t>(back->ImageLength) != length)
            return Fail(console, summary, ExitInternal,
                        "verify: read back " + std::to_string(back->ImageLength) + " bytes, expected " +
                            std::to_string(length));
        const uint8_t* wrote = image->ImageBuffer.data() + (size_t{range.startBlock} << 8);
        const uint8_t* got = back->ImageBuffer.data();
        size_t differing = 0, first = 0;
        for (size_t i = 0; i < length; ++i) {
            if (wrote[i] != got[i] && differing++ == 0)
                first = i;
        }
        summary.Set("verified", differing == 0);
        if (differing != 0) {
            const uint32_t address = (range.startBlock << 8) + static_cast<uint32_t>(first);
            summary.Set("firstMismatch", pd::HexDigits(address, 6));
            summary.Set("mismatchedBytes", static_cast<int64_t>(differing));
            return Fail(console, summary, ExitVerify,
                        "verify: flash address " + Hex(address, 6) + " holds " + Hex(got[first], 2) +
                            ", the image has " + Hex(wrote[first], 2) + " (" + std::to_string(differing) +
                            " byte" + (differing == 1 ? "" : "s") + " differ)");
        }
    }
    summary.SetSeconds("seconds", SecondsSince(began));
    return ExitOk;
}

int RunRead(const CommonOptions& common, const ReadOptions& options, Console& console, JsonSummary& summary)
{
    const Clock::time_point began = Clock::now();
    summary.Set("command", "read");
    Range range;
    if (const int code = CheckRange(options.range, console, summary, range); code != ExitOk)
        return code;
    summary.Set("output", options.outputPath);

    std::error_code ec;
    const fs::path out(options.outputPath);
    const fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
    if (out.filename().empty() || fs::is_directory(out, ec))
        return Fail(console, summary, ExitFile, "output " + options.outputPath + " names a folder, not a file");
    if (!fs::is_directory(folder, ec))
        return Fail(console, summary, ExitFile, "output folder " + folder.string() + " does not exist");

    if (common.dryRun)
        return DryRunPorts(common, console, summary,
                           "would read " + std::to_string(range.Blocks()) + " blocks " + Hex(range.startBlock, 4) +
                               ".." + Hex(range.endBlock - 1, 4) + " of port " + std::to_string(options.range.port) +
                               " into " + options.outputPath);

    OpenBackend backend;
    if (const int code = OpenForRun(common, console, summary, backend); code != ExitOk)
        return code;
    Session session(*backend.io, options.range.port);
    ConsoleView view(console, options.range.startText, options.range.endText, options.range.port);

    auto store = std::make_unique<pd::ImageStore>();
    pd::FlashReadSequence read(session.mailbox, *store, session.ports, view, ToDuration(common.timeoutSeconds));
    const int code = RunSequence(read, &pd::FlashReadSequence::Button3Click, &pd::FlashReadSequence::Timer3Timer,
                                 &pd::FlashReadSequence::ReadState, false, "read", range, common, console, view,
                                 summary);
    if (code != ExitOk)
        return code;

    // Written beside the final name and renamed: a crash or a full disk
    // never leaves a partial file under the name a script waits for.
    const std::string temp = TempNameBeside(options.outputPath);
    const bool saved = pd::SaveImageFile(*store, temp, view) && FlushToDisk(temp);
    if (!saved) {
        fs::remove(temp, ec);
        return Fail(console, summary, ExitFile, "output " + options.outputPath + " could not be written (see the log)");
    }
    fs::rename(temp, out, ec);
    if (ec) {
        const std::string why = ec.message();
        fs::remove(temp, ec);
        return Fail(console, summary, ExitFile, "output " + options.outputPath + ": rename failed: " + why);
    }
    summary.Set("bytes", store->ImageLength);
    summary.SetSeconds("seconds", SecondsSince(began));
    return ExitOk;
}

int RunVersion(const CommonOptions& common, const VersionOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "version");
    std::vector<int> ports;
    if (options.port == 0)
        ports = {1, 2};
    else
        ports = {options.port};

    if (common.dryRun) {
        std::string plan = "would read the version of ";
        plan += ports.size() > 1 ? std::string("ports 1 and 2") : "port " + std::to_string(ports[0]);
        return DryRunPorts(common, console, summary, plan);
    }

    OpenBackend backend;
    if (const int code = OpenForRun(common, console, summary, backend); code != ExitOk)
        return code;
    Session session(*backend.io, ports.front());
    ConsoleView view(console, DefaultStartText, DefaultEndText, ports.front());
    pd::VersionMonitor monitor(session.mailbox, session.ports, view);
    const auto bound = ToDuration(common.timeoutSeconds);

    std::string versions = "[";
    for (const int port : ports) {
        view.SetPort(port);
        session.ForceSelection(port);
        view.ClearVersionLabel();
        // The first tick selects the port, the next one shows its version;
        // each waits for the EC to be idle, which the monitor itself never does.
        for (int tick = 0; tick < 3 && view.VersionLabel().empty(); ++tick) {
            if (!session.mailbox.WaitIdle(bound))
                return Fail(console, summary, ExitEcBusy,
                            "version: port " + std::to_string(port) + ": EC stayed busy for " +
                                SecondsText(common.timeoutSeconds));
            monitor.Timer1Timer();
        }
        const std::string& label = view.VersionLabel();
        if (label.empty())
            return Fail(console, summary, ExitInternal, "version: port " + std::to_string(port) + ": no label shown");
        console.Result(label);
        // "PORT1 FW2 VER : " and eight "XX " groups.
        std::string bytes = label.size() > 16 ? label.substr(16) : std::string();
        while (!bytes.empty() && bytes.back() == ' ')
            bytes.pop_back();
        if (versions.size() > 1)
            versions += ", ";
        versions += "{\"port\": " + std::to_string(port) + ", \"version\": " + JsonSummary::Quote(bytes) +
                    ", \"label\": " + JsonSummary::Quote(label) + "}";
    }
    versions += "]";
    summary.Set("backend", backend.description);
    summary.SetRaw("versions", versions);
    return ExitOk;
}

} // namespace vyk::cli
