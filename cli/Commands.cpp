#include "cli/Commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

#include "cli/Advice.h"
#include "cli/ConsoleView.h"
#include "cli/EcSession.h"
#include "cli/Interrupt.h"
#include "cli/OutputFile.h"
#include "cli/RunRecord.h"
#include "hw/EcRam.h"
#include "hw/WaitClock.h"
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

int Fail(Console& console, JsonSummary& summary, int code, const std::string& message)
{
    console.Error(message);
    summary.Set("error", message);
    return code;
}

int Interrupted(Console& console, JsonSummary& summary, const std::string& message)
{
    summary.Set("interrupted", true);
    summary.Set("signal", StopCause());
    return Fail(console, summary, ExitInterrupted, message);
}

namespace {

std::string Hex(uint32_t value, int digits) { return "0x" + pd::HexDigits(value, digits); }

// The tool and the options that reach the same EC, for commands it advises.
std::string ToolText(const CommonOptions& common)
{
    std::string text = "vykuu";
    if (!common.backend.simDir.empty())
        text += " --sim " + ShellWord(common.backend.simDir);
    if (!common.backend.portLibrary.empty())
        text += " --port-library " + ShellWord(common.backend.portLibrary);
    return text;
}

// Told after the error: what the PD may be left in, and what puts it right.
void TellPdLeft(Console& console, JsonSummary& summary, const std::string& advice)
{
    console.Error(advice);
    summary.Set("pdMayBeInBootLoader", true);
    summary.Set("advice", advice);
}

struct Range {
    uint32_t start = 0, end = 0;
    uint32_t startBlock = 0, endBlock = 0;
    uint32_t Blocks() const { return endBlock - startBlock; }
    uint32_t FirstAddress() const { return startBlock << 8; }
    uint32_t EndAddress() const { return endBlock << 8; }
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

struct DriveEnd {
    bool stalled = false;
    pd::SequenceState state = pd::SequenceState::Idle;
    pd::SequenceState lastState = pd::SequenceState::Idle;   // the state of the tick that ended the sequence
};

// Ticks a sequence with no pacing until it stops. A tick whose busy test
// reads busy changes nothing, so the loop gives up once neither the state
// nor the block count has moved for `limit`.
DriveEnd Drive(pd::FirmwareSequence& sequence, Clock::duration limit, const std::function<void()>& progress)
{
    pd::SequenceState lastState = sequence.State();
    uint32_t lastDone = sequence.BlocksDone();
    Clock::time_point since = WaitNow();
    while (sequence.Running()) {
        const pd::SequenceState before = sequence.State();
        sequence.Tick();
        progress();
        if (!sequence.Running())
            return {false, pd::SequenceState::Idle, before};
        const pd::SequenceState nowState = sequence.State();
        const uint32_t nowDone = sequence.BlocksDone();
        if (nowState != lastState || nowDone != lastDone) {
            lastState = nowState;
            lastDone = nowDone;
            since = WaitNow();
        } else if (WaitNow() - since > limit) {
            return {true, nowState, nowState};
        }
    }
    return {};
}

// One run of a sequence: who it is in messages, and what a stop leaves.
struct Phase {
    const char* who;            // "flash write", "read", "verify", "backup"
    bool flash;                 // the write sequence
    std::string afterStop;      // appended to the interruption message
    const PdLeft* left = nullptr;   // where the run stands with the PD, for advice
};

// Runs one sequence to its end and turns how it ended into an exit code.
int RunSequence(Session& session, pd::FirmwareSequence& sequence, const Phase& phase, const Range& range,
                const CommonOptions& common, Console& console, ConsoleView& view, JsonSummary& summary)
{
    // The first tick fills the transfer window without a busy test. Back to
    // back, it would come while the EC still works on the reset or the port
    // selection that ended the step before, which the window leaves a timer
    // tick at least: the EC is let finish first.
    if (!session.mailbox.WaitIdle(ToDuration(common.timeoutSeconds)))
        return Fail(console, summary, ExitEcBusy,
                    std::string(phase.who) + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) +
                        " waiting for the EC to be idle before the window fill (state 1, 0 of " +
                        std::to_string(range.Blocks()) + " blocks done)");
    const auto progress = [&] { console.Progress(sequence.BlocksDone(), sequence.BlocksTotal()); };
    console.BeginProgress(phase.flash ? "flash" : phase.who);
    view.SetProgressSource(progress);
    sequence.SetStopRequest(&StopRequest());
    if (phase.left)
        SetHardStopText(HardStopAdvice(*phase.left));
    sequence.Start();
    const DriveEnd end = Drive(sequence, ToDuration(common.timeoutSeconds), progress);
    SetHardStopText({});
    view.SetProgressSource({});
    console.EndProgress();
    // Once CmdInit is out, an EC that stops answering leaves the PD on its
    // way into flashing mode or in it, with no reset sent.
    const auto tellLeft = [&](int code) {
        if (phase.left) {
            PdLeft left = *phase.left;
            if (phase.flash) {
                left.blocksWritten = sequence.BlocksDone();
                left.blocksTotal = range.Blocks();
            }
            TellPdLeft(console, summary, BootLoaderAdvice(left));
        }
        return code;
    };

    const std::string who = phase.who;
    const std::string done = std::to_string(sequence.BlocksDone()) + " of " + std::to_string(range.Blocks()) +
                             " blocks";
    const std::string interrupted = StopRequest() ? "; interrupted" : "";
    if (end.stalled) {
        const int code = Fail(console, summary, ExitEcBusy,
                              who + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) + " waiting for " +
                                  sequence.WaitingFor() + " (state " + std::to_string(static_cast<int>(end.state)) +
                                  ", " + done + " done)" + interrupted);
        // CmdInit is out from JumpBoot on.
        return end.state >= pd::SequenceState::JumpBoot ? tellLeft(code) : code;
    }
    switch (sequence.Outcome()) {
    case pd::SequenceOutcome::Completed:
        return ExitOk;
    case pd::SequenceOutcome::RangeRefused:
        return Fail(console, summary, ExitRangeRefused, who + ": range refused (see the log)");
    case pd::SequenceOutcome::EcStayedBusy:
        return tellLeft(Fail(console, summary, ExitEcBusy,
                             who + ": block " + Hex(range.startBlock + sequence.BlocksDone(), 4) +
                                 ": EC stayed busy for " + SecondsText(common.timeoutSeconds) + " (" + done +
                                 " done)" + interrupted));
    case pd::SequenceOutcome::NoPortAccess:
        return Fail(console, summary, ExitNoPortAccess, who + ": no port access; nothing sent");
    case pd::SequenceOutcome::Stopped:
        // Up to CmdInit nothing reaches the EC; after it the stop resets the PD.
        if (end.lastState <= pd::SequenceState::Init)
            return Interrupted(console, summary, who + ": interrupted before CmdInit; the PD was not touched" +
                                                     phase.afterStop);
        return Interrupted(console, summary,
                           who + ": interrupted after " + done + "; no validate sent; PD reset" + phase.afterStop);
    default:
        return Fail(console, summary, ExitInternal, who + ": sequence ended without an outcome");
    }
}

std::string MachineJson(const Machine& machine)
{
    return "{\"vendor\": " + JsonSummary::Quote(machine.vendor) + ", \"product\": " +
           JsonSummary::Quote(machine.product) + ", \"serial\": " + JsonSummary::Quote(machine.serial) + "}";
}

// Takes the EC's lock and opens the ports; a refusal leaves everything untouched.
int Open(const CommonOptions& common, Console& console, JsonSummary& summary, OpenBackend& backend)
{
    if (StopRequest())
        return Interrupted(console, summary, "interrupted before the EC was reached; nothing was done");
    try {
        backend = OpenPorts(common.backend);
    } catch (const EcInUse& e) {
        return Fail(console, summary, ExitEcInUse, e.what());
    } catch (const NoPortAccess& e) {
        return Fail(console, summary, ExitNoPortAccess, e.what());
    }
    summary.Set("backend", backend.description);
    if (console.Json())
        summary.SetRaw("machine", MachineJson(MachineOf(backend)));
    return ExitOk;
}

} // namespace

int CheckPower(const Power& power, bool allowBattery, Console& console, JsonSummary& summary)
{
    if (power.haveBattery && !power.onAc && power.percent >= 0 && power.percent < LowestBatteryPercent) {
        const std::string text = "the notebook runs on battery at " + std::to_string(power.percent) + " % (below " +
                                 std::to_string(LowestBatteryPercent) + " %)";
        if (!allowBattery)
            return Fail(console, summary, ExitOnBattery,
                        "flash refused: " + text +
                            "; a flash cut short by a flat battery can leave the PD without firmware. "
                            "Connect the charger, or give --allow-battery");
        console.Note("flashing although " + text + " (--allow-battery)");
    }
    return ExitOk;
}

namespace {

// The last checks before the first EC command: the power (for a flash),
// then one read that shows an EC is there.
int Ready(OpenBackend& backend, bool flashing, bool allowBattery, Console& console, JsonSummary& summary)
{
    if (flashing)
        if (const int code = CheckPower(PowerOf(backend), allowBattery, console, summary); code != ExitOk)
            return code;
    // PdCommand is never 0xFF; a bus with nothing on it reads 0xFF everywhere.
    EcRam ec(backend.io);
    if (ec.EcRamRead(pd::PdCommand) == 0xFF)
        return Fail(console, summary, ExitNoEc, "no EC answers at ports 0x4E/0x4F (every read gives 0xFF)");
    if (StopRequest())
        return Interrupted(console, summary, "interrupted before the first command; nothing sent");
    return ExitOk;
}

} // namespace

int Connect(const CommonOptions& common, bool flashing, bool allowBattery, Console& console, JsonSummary& summary,
            OpenBackend& backend)
{
    if (const int code = Open(common, console, summary, backend); code != ExitOk)
        return code;
    return Ready(backend, flashing, allowBattery, console, summary);
}

int DryRunPorts(const CommonOptions& common, bool flashing, bool allowBattery, Console& console,
                JsonSummary& summary, const std::string& plan)
{
    DryBackend dry;
    try {
        dry = CheckPortsDry(common.backend);
    } catch (const EcInUse& e) {
        return Fail(console, summary, ExitEcInUse, e.what());
    } catch (const NoPortAccess& e) {
        return Fail(console, summary, ExitNoPortAccess, e.what());
    }
    summary.Set("backend", dry.description);
    summary.Set("dryRun", true);
    if (flashing)
        if (const int code = CheckPower(dry.power, allowBattery, console, summary); code != ExitOk)
            return code;
    console.Note("dry run: " + plan + "; backend: " + dry.description + "; the EC's lock is free; no port touched");
    return ExitOk;
}

VersionsRead ReadVersionsOf(Session& session, ConsoleView& view, const std::vector<int>& ports,
                            const CommonOptions& common, bool show, Console& console)
{
    pd::VersionMonitor monitor(session.mailbox, session.ports, view);
    const auto bound = ToDuration(common.timeoutSeconds);
    VersionsRead out;
    out.json = "[";
    for (const int port : ports) {
        view.SetPort(port);
        session.ForceSelection(port);
        view.ClearVersionLabel();
        // The first tick selects the port, the next one shows its version;
        // each waits for the EC to be idle, which the monitor itself never does.
        for (int tick = 0; tick < 3 && view.VersionLabel().empty(); ++tick) {
            if (!session.mailbox.WaitIdle(bound))
                return {ExitEcBusy,
                        "version: port " + std::to_string(port) + ": EC stayed busy for " +
                            SecondsText(common.timeoutSeconds),
                        {}};
            monitor.Tick();
        }
        const std::string& label = view.VersionLabel();
        if (label.empty() || monitor.ShownPort() != port)
            return {ExitInternal, "version: port " + std::to_string(port) + ": no label shown", {}};
        if (show)
            console.Result(label);
        const std::string bytes = pd::VersionBytesText(monitor.ShownVersion());
        if (out.json.size() > 1)
            out.json += ", ";
        out.json += "{\"port\": " + std::to_string(port) + ", \"version\": " + JsonSummary::Quote(bytes) +
                    ", \"label\": " + JsonSummary::Quote(label) + "}";
    }
    out.json += "]";
    return out;
}

namespace {

// The versions into the summary under `key`; a failure is told.
int RecordVersions(Session& session, ConsoleView& view, const std::vector<int>& ports, const CommonOptions& common,
                   bool show, Console& console, JsonSummary& summary, const char* key)
{
    const VersionsRead read = ReadVersionsOf(session, view, ports, common, show, console);
    if (read.code != ExitOk)
        return Fail(console, summary, read.code, read.error);
    summary.SetRaw(key, read.json);
    return ExitOk;
}

// Reads the range into `store` with the read sequence.
int ReadRange(Session& session, pd::ImageStore& store, const Phase& phase, const Range& range,
              const CommonOptions& common, Console& console, ConsoleView& view, JsonSummary& summary)
{
    pd::FlashReadSequence read(session.mailbox, store, session.ports, view, ToDuration(common.timeoutSeconds));
    const int code = RunSequence(session, read, phase, range, common, console, view, summary);
    if (code == ExitOk && static_cast<size_t>(store.ImageLength) != size_t{range.Blocks()} * 256)
        return Fail(console, summary, ExitInternal,
                    std::string(phase.who) + ": read " + std::to_string(store.ImageLength) + " bytes, expected " +
                        std::to_string(size_t{range.Blocks()} * 256));
    return code;
}

std::string FileKind(fs::file_type type)
{
    switch (type) {
    case fs::file_type::not_found: return "does not exist";
    case fs::file_type::directory: return "is a folder";
    case fs::file_type::fifo: return "is a FIFO";
    case fs::file_type::character:
    case fs::file_type::block: return "is a device";
    case fs::file_type::socket: return "is a socket";
    default: return "is not a regular file";
    }
}

// Whether the image file can be flashed over the range, placed at
// `imageAt`; the file itself is read later.
int CheckImage(const FlashOptions& options, const Range& range, uint32_t imageAt, Console& console,
               JsonSummary& summary)
{
    const std::string& path = options.imagePath;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && status.type() != fs::file_type::not_found)
        return Fail(console, summary, ExitFile, "image file " + path + ": " + ec.message());
    if (!fs::is_regular_file(status))
        return Fail(console, summary, ExitFile, "image file " + path + " " + FileKind(status.type()));
    const auto size = fs::file_size(path, ec);
    if (ec)
        return Fail(console, summary, ExitFile, "image file " + path + ": " + ec.message());
    if (std::FILE* f = std::fopen(path.c_str(), "rb"))
        std::fclose(f);
    else
        return Fail(console, summary, ExitFile, "image file " + path + ": cannot open: " + std::strerror(errno));

    const uint64_t imageEnd = uint64_t{imageAt} + size;
    if (imageEnd > static_cast<uint64_t>(pd::ImageBufferSize))
        return Fail(console, summary, ExitFile,
                    "image file " + path + " holds " + std::to_string(size) + " bytes; placed at " + Hex(imageAt, 6) +
                        " it would end at " + Hex(static_cast<uint32_t>(imageEnd), 6) +
                        ", past the 262146 bytes the image buffer takes");
    if (range.FirstAddress() < imageAt)
        return Fail(console, summary, ExitFile,
                    "image file " + path + " begins at flash address " + Hex(imageAt, 6) +
                        " (--image-at), after the range's start " + Hex(range.FirstAddress(), 6) +
                        ": the blocks before it would be written as 0xFF");
    // Not one byte of the file in the range: the flash would be erased and
    // the run reported as a flash. No option makes that a flash.
    if (imageEnd <= range.FirstAddress())
        return Fail(console, summary, ExitFile,
                    "image file " + path +
                        (size == 0 ? std::string(" is empty")
                                   : " ends at " + Hex(static_cast<uint32_t>(imageEnd), 6) + ", before the range's start") +
                        ": not one byte of it lies in the range " + Hex(range.FirstAddress(), 6) + ".." +
                        Hex(range.EndAddress(), 6) + ", which would be written as 0xFF alone; refused, with "
                        "--allow-short too");
    if (imageEnd < range.EndAddress() && options.allowShort) {
        const uint32_t end = static_cast<uint32_t>(imageEnd);
        const uint32_t padded = range.endBlock - ((end + 255) >> 8);
        std::string text = "image file " + path + " ends at " + Hex(end, 6) + ", before the range's end " +
                           Hex(range.EndAddress(), 6) + ": " + std::to_string(padded) + " of the range's " +
                           std::to_string(range.Blocks()) + " blocks go out as 0xFF alone";
        if (end % 256 != 0)
            text += ", and block " + Hex(end >> 8, 4) + " holds 0xFF after its first " + std::to_string(end % 256) +
                    " bytes";
        console.Note(text + " (--allow-short)");
        summary.Set("paddedBlocks", padded);
    }
    if (imageEnd < range.EndAddress() && !options.allowShort) {
        const uint32_t rangeLength = range.EndAddress() - range.FirstAddress();
        if (size == rangeLength)
            return Fail(console, summary, ExitFile,
                        "image file " + path + " holds " + std::to_string(size) +
                            " bytes, exactly the length of the range " + Hex(range.FirstAddress(), 6) + ".." +
                            Hex(range.EndAddress(), 6) +
                            ": a file saved by 'read' holds the range alone, from its start. Flash it back with "
                            "--image-at " + pd::HexDigits(range.FirstAddress(), 6));
        return Fail(console, summary, ExitFile,
                    "image file " + path + " ends at " + Hex(static_cast<uint32_t>(imageEnd), 6) +
                        ", before the range's end " + Hex(range.EndAddress(), 6) +
                        ": the blocks past it would be written as 0xFF. An image is indexed by flash address from 0 "
                        "unless --image-at gives where its first byte belongs (a file saved by 'read --start S' "
                        "flashes back with --image-at S). Use --allow-short to flash it anyway");
    }
    return ExitOk;
}

} // namespace

namespace {

// Where a backup goes when the name given is taken: the first free
// "NAME-2.EXT", "NAME-3.EXT", ...
std::string FreeName(const std::string& path)
{
    const fs::path p = path;
    for (int n = 2; n < 1000; ++n) {
        fs::path candidate = p.parent_path() / (p.stem().string() + "-" + std::to_string(n) + p.extension().string());
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            return candidate.string();
    }
    return {};
}

OutputFile::Rules OutputRules(const CommonOptions& common, const char* noun, bool keepExisting)
{
    OutputFile::Rules rules;
    rules.keepExisting = keepExisting;
    rules.refusedFolder = common.backend.simDir;
    rules.noun = noun;
    return rules;
}

std::string BlocksText(const Range& range, int port)
{
    return std::to_string(range.Blocks()) + " blocks " + Hex(range.startBlock, 4) + ".." +
           Hex(range.endBlock - 1, 4) + " of port " + std::to_string(port);
}

// What follows the Session of a flash: the backup, the write, the verify.
int FlashOnSession(Session& session, const CommonOptions& common, const FlashOptions& options, const Range& range,
                   pd::ImageStore& image, OutputFile& backupFile, PdLeft& left, Console& console, ConsoleView& view,
                   JsonSummary& summary)
{
    const int port = options.range.port;
    if (console.Json()) {
        // A production line keeps what was on both ports before and after.
        if (const int code = RecordVersions(session, view, {1, 2}, common, false, console, summary, "versionsBefore");
            code != ExitOk)
            return code;
        view.SetPort(port);
        session.ForceSelection(port);
    }

    if (!options.backupPath.empty()) {
        auto saved = std::make_unique<pd::ImageStore>();
        const Phase backup{"backup", false, "; nothing written to the flash", &left};
        if (const int code = ReadRange(session, *saved, backup, range, common, console, view, summary); code != ExitOk)
            return code;
        const auto size = static_cast<size_t>(saved->ImageLength);
        const OutputFile::Problem problem = backupFile.Commit(saved->ImageBuffer.data(), size);
        if (problem.code)
            return Fail(console, summary, problem.code, "backup: " + problem.message + "; nothing written to the flash");
        RecordFile(summary, "backup", backupFile.Target(), saved->ImageBuffer.data(), size);
        left.backupPath = backupFile.Target();
        if (StopRequest())
            return Interrupted(console, summary, "interrupted after the backup; nothing written to the flash");
    }

    left.stage = PdLeft::Stage::Writing;
    pd::FlashWriteSequence write(session.mailbox, image, session.ports, view, ToDuration(common.timeoutSeconds));
    std::string afterStop = "; flash again to complete";
    if (!left.backupPath.empty())
        afterStop += ". " + RetryAdvice(left);
    const Phase writing{"flash write", true, afterStop, &left};
    int code = RunSequence(session, write, writing, range, common, console, view, summary);
    summary.Set("blocksWritten", write.BlocksDone());
    if (code != ExitOk)
        return code;

    left.stage = PdLeft::Stage::Written;
    const std::string what = "the flash of " + BlocksText(range, port);
    if (!options.verify) {
        console.Note("written: " + BlocksText(range, port) + ", validated and the PD reset; not read back "
                     "(--no-verify)");
        console.SetAchieved(what + " completed; it was not verified (--no-verify)");
        return ExitOk;
    }
    if (StopRequest())
        return Interrupted(console, summary, "interrupted after the flash was written and validated; not verified");
    auto back = std::make_unique<pd::ImageStore>();
    const Phase verify{"verify", false, "; the flash was written and validated but is not verified", &left};
    if ((code = ReadRange(session, *back, verify, range, common, console, view, summary)) != ExitOk)
        return code;
    const size_t length = size_t{range.Blocks()} * 256;
    const uint8_t* wrote = image.ImageBuffer.data() + range.FirstAddress();
    const uint8_t* got = back->ImageBuffer.data();
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < length; ++i) {
        if (wrote[i] != got[i] && differing++ == 0)
            first = i;
    }
    summary.Set("verified", differing == 0);
    if (differing != 0) {
        const uint32_t address = range.FirstAddress() + static_cast<uint32_t>(first);
        summary.Set("firstMismatch", pd::HexDigits(address, 6));
        summary.Set("mismatchedBytes", static_cast<int64_t>(differing));
        code = Fail(console, summary, ExitVerify,
                    "verify: flash address " + Hex(address, 6) + " holds " + Hex(got[first], 2) + ", the image has " +
                        Hex(wrote[first], 2) + " (" + std::to_string(differing) + " byte" +
                        (differing == 1 ? "" : "s") + " differ)");
        TellPdLeft(console, summary, MismatchAdvice(left, options.imagePath));
        return code;
    }
    console.Note("verified: " + BlocksText(range, port) + " match the image, all " + std::to_string(length) +
                 " bytes read back");
    console.SetAchieved(what + " completed and verified");
    return ExitOk;
}

} // namespace

int RunFlash(const CommonOptions& common, const FlashOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "flash");
    Range range;
    if (const int code = CheckRange(options.range, console, summary, range); code != ExitOk)
        return code;
    summary.Set("image", AbsolutePath(options.imagePath));
    summary.Set("verify", options.verify);

    uint32_t imageAt = 0;
    if (!options.imageAtText.empty()) {
        const std::string problem = pd::AddressTextProblem(options.imageAtText);
        if (!problem.empty())
            return Fail(console, summary, ExitUsage, "--image-at: " + problem);
        imageAt = pd::ReadAddressField(options.imageAtText);
        if (imageAt % 256 != 0)
            return Fail(console, summary, ExitUsage,
                        "--image-at " + options.imageAtText + " is not the start of a block; a file saved by "
                        "'read --start " + options.imageAtText + "' begins at its block, " +
                            pd::HexDigits(imageAt & ~0xFFu, 6));
        summary.Set("imageAt", pd::HexDigits(imageAt, 6));
    }
    if (const int code = CheckImage(options, range, imageAt, console, summary); code != ExitOk)
        return code;

    OutputFile backupFile;
    if (!options.backupPath.empty()) {
        std::error_code ec;
        if (options.backupPath == "-")
            return Fail(console, summary, ExitUsage, "--backup needs a file; standard output carries the log");
        if (fs::equivalent(options.backupPath, options.imagePath, ec))
            return Fail(console, summary, ExitUsage,
                        "--backup " + options.backupPath + " is the image file itself; give another file");
        const OutputFile::Problem problem =
            backupFile.Prepare(options.backupPath, OutputRules(common, "backup", true));
        if (problem.code) {
            std::string message = problem.message;
            if (problem.exists) {
                const std::string free = FreeName(options.backupPath);
                message += ": a backup is written once, so that a second run cannot overwrite the firmware it "
                           "saved; give a new name" + (free.empty() ? std::string() : " (" + free + ")") +
                           ", or none to flash without a backup";
            }
            return Fail(console, summary, problem.code, message);
        }
        summary.Set("backup", AbsolutePath(backupFile.Target()));
    }

    // The lock first: a second program is refused before it reads anything.
    OpenBackend backend;
    if (!common.dryRun)
        if (const int code = Open(common, console, summary, backend); code != ExitOk)
            return code;

    ConsoleView view(console, options.range.startText, options.range.endText, options.range.port);
    auto image = std::make_unique<pd::ImageStore>();
    if (!pd::LoadImageFile(*image, options.imagePath, view))
        return Fail(console, summary, ExitFile, "image file " + options.imagePath + " could not be loaded (see the log)");
    RecordFile(summary, "image", options.imagePath, image->ImageBuffer.data(),
               static_cast<size_t>(image->ImageLength));
    if (imageAt != 0) {
        // Buffer index is flash address: the file moves to where it belongs.
        uint8_t* buffer = image->ImageBuffer.data();
        std::memmove(buffer + imageAt, buffer, static_cast<size_t>(image->ImageLength));
        std::fill(buffer, buffer + imageAt, uint8_t{0xFF});
    }

    if (common.dryRun)
        return DryRunPorts(common, true, options.allowBattery, console, summary,
                           std::string(options.backupPath.empty() ? "" : "would back the range up into " +
                                                                             options.backupPath + ", then ") +
                               "would flash " + BlocksText(range, options.range.port) +
                               (options.verify ? " and verify them" : ""));

    if (const int code = Ready(backend, true, options.allowBattery, console, summary); code != ExitOk)
        return code;
    Session session(*backend.io, options.range.port);
    PdLeft left;
    left.port = options.range.port;
    left.tool = ToolText(common);
    left.backupImageAt = pd::HexDigits(range.FirstAddress(), 6);
    const int code =
        FlashOnSession(session, common, options, range, *image, backupFile, left, console, view, summary);
    // What both ports show now, on every end where the EC still answers.
    if (console.Json() && code != ExitEcBusy) {
        const VersionsRead after = ReadVersionsOf(session, view, {1, 2}, common, false, console);
        if (after.code == ExitOk)
            summary.SetRaw("versionsAfter", after.json);
    }
    return code;
}

int RunRead(const CommonOptions& common, const ReadOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "read");
    Range range;
    if (const int code = CheckRange(options.range, console, summary, range); code != ExitOk)
        return code;
    summary.Set("output", AbsolutePath(options.outputPath));

    // Checked, and the temporary file made, before the EC is reached: a
    // folder that cannot be written fails now, not after every block.
    OutputFile output;
    if (const OutputFile::Problem problem = output.Prepare(options.outputPath, OutputRules(common, "output", false));
        problem.code)
        return Fail(console, summary, problem.code, problem.message);
    // Where the file's first byte belongs: the start of --start's block.
    const std::string imageAt = pd::HexDigits(range.FirstAddress(), 6);
    summary.Set("imageAt", imageAt);

    if (common.dryRun)
        return DryRunPorts(common, false, false, console, summary,
                           "would read " + BlocksText(range, options.range.port) + " into " + output.Target());

    OpenBackend backend;
    if (const int code = Connect(common, false, false, console, summary, backend); code != ExitOk)
        return code;
    Session session(*backend.io, options.range.port);
    ConsoleView view(console, options.range.startText, options.range.endText, options.range.port);

    PdLeft left;
    left.port = options.range.port;
    left.tool = ToolText(common);
    auto store = std::make_unique<pd::ImageStore>();
    const Phase reading{"read", false, "; nothing saved", &left};
    if (const int code = ReadRange(session, *store, reading, range, common, console, view, summary); code != ExitOk)
        return code;
    const auto size = static_cast<size_t>(store->ImageLength);
    if (const OutputFile::Problem problem = output.Commit(store->ImageBuffer.data(), size); problem.code)
        return Fail(console, summary, problem.code, "output " + options.outputPath + ": " + problem.message);
    summary.Set("bytes", store->ImageLength);
    RecordFile(summary, "output", output.ToStdout() ? "-" : output.Target(), store->ImageBuffer.data(), size);
    const std::string where = output.ToStdout() ? std::string("standard output") : AbsolutePath(output.Target());
    console.Note("saved: " + BlocksText(range, options.range.port) + ", " + std::to_string(size) + " bytes, into " +
                 where + "; it flashes back with --image-at " + imageAt);
    console.SetAchieved("the read of " + BlocksText(range, options.range.port) + " completed and was saved into " +
                        where);
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
        return DryRunPorts(common, false, false, console, summary, plan);
    }

    OpenBackend backend;
    if (const int code = Connect(common, false, false, console, summary, backend); code != ExitOk)
        return code;
    Session session(*backend.io, ports.front());
    ConsoleView view(console, DefaultStartText, DefaultEndText, ports.front());
    if (const int code = RecordVersions(session, view, ports, common, true, console, summary, "versions"); code != ExitOk)
        return code;
    return ExitOk;
}

} // namespace vyk::cli
