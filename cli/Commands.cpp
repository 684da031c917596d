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

#include "cli/ConsoleView.h"
#include "cli/Interrupt.h"
#include "cli/OutputFile.h"
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

int Interrupted(Console& console, JsonSummary& summary, const std::string& message)
{
    summary.Set("interrupted", true);
    summary.Set("signal", StopCause());
    return Fail(console, summary, ExitInterrupted, message);
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
    case 2: return "the EC to be idle before the port selection and CmdInit";
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
    int lastState = 0;   // the state of the tick that ended the sequence
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
        const int before = (sequence.*state)();
        (sequence.*tick)();
        progress();
        if (!sequence.Running())
            return {false, 0, before};
        const int nowState = (sequence.*state)();
        const uint32_t nowDone = sequence.BlocksDone();
        if (nowState != lastState || nowDone != lastDone) {
            lastState = nowState;
            lastDone = nowDone;
            since = Clock::now();
        } else if (Clock::now() - since > limit) {
            return {true, nowState, nowState};
        }
    }
    return {};
}

// One run of a sequence: who it is in messages, and what a stop leaves.
struct Phase {
    const char* who;         // "flash write", "read", "verify", "backup"
    bool flash;              // the write sequence
    const char* afterStop;   // appended to the interruption message
};

// Runs one sequence to its end and turns how it ended into an exit code.
template <class Sequence>
int RunSequence(Sequence& sequence, void (Sequence::*click)(), void (Sequence::*tick)(),
                int (Sequence::*state)() const, const Phase& phase, const Range& range,
                const CommonOptions& common, Console& console, ConsoleView& view, JsonSummary& summary)
{
    const auto progress = [&] { console.Progress(sequence.BlocksDone(), sequence.BlocksTotal()); };
    console.BeginProgress(phase.flash ? "flash" : phase.who);
    view.SetProgressSource(progress);
    sequence.SetStopRequest(&StopRequest());
    (sequence.*click)();
    const DriveEnd end = Drive(sequence, tick, state, ToDuration(common.timeoutSeconds), progress);
    view.SetProgressSource({});
    console.EndProgress();

    const std::string who = phase.who;
    const std::string done = std::to_string(sequence.BlocksDone()) + " of " + std::to_string(range.Blocks()) +
                             " blocks";
    const std::string interrupted = StopRequest() ? "; interrupted" : "";
    if (end.stalled)
        return Fail(console, summary, ExitEcBusy,
                    who + ": EC stayed busy for " + SecondsText(common.timeoutSeconds) + " waiting for " +
                        WaitText(phase.flash, end.state, sequence.BlocksDone()) + " (state " +
                        std::to_string(end.state) + ", " + done + " done)" + interrupted);
    switch (sequence.Outcome()) {
    case pd::SequenceOutcome::Completed:
        return ExitOk;
    case pd::SequenceOutcome::RangeRefused:
        return Fail(console, summary, ExitRangeRefused, who + ": range refused (see the log)");
    case pd::SequenceOutcome::EcStayedBusy:
        return Fail(console, summary, ExitEcBusy,
                    who + ": block " + Hex(range.startBlock + sequence.BlocksDone(), 4) + ": EC stayed busy for " +
                        SecondsText(common.timeoutSeconds) + " (" + done + " done)" + interrupted);
    case pd::SequenceOutcome::NoPortAccess:
        return Fail(console, summary, ExitNoPortAccess, who + ": no port access; nothing sent");
    case pd::SequenceOutcome::Stopped:
        // Up to CmdInit nothing reaches the EC; after it the stop resets the PD.
        if (end.lastState <= 2)
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

// The last checks before the first EC command: the power (for a flash),
// then one read that shows an EC is there.
int Ready(OpenBackend& backend, bool flashing, bool allowBattery, Console& console, JsonSummary& summary)
{
    if (flashing) {
        const Power power = PowerOf(backend);
        if (power.haveBattery && !power.onAc && power.percent >= 0 && power.percent < LowestBatteryPercent) {
            const std::string text = "the notebook runs on battery at " + std::to_string(power.percent) +
                                     " % (below " + std::to_string(LowestBatteryPercent) + " %)";
            if (!allowBattery)
                return Fail(console, summary, ExitOnBattery,
                            "flash refused: " + text +
                                "; a flash cut short by a flat battery can leave the PD without firmware. "
                                "Connect the charger, or give --allow-battery");
            console.Note("flashing although " + text + " (--allow-battery)");
        }
    }
    // PdCommand is never 0xFF; a bus with nothing on it reads 0xFF everywhere.
    EcRam ec(backend.io);
    if (ec.EcRamRead(pd::PdCommand) == 0xFF)
        return Fail(console, summary, ExitNoEc, "no EC answers at ports 0x4E/0x4F (every read gives 0xFF)");
    if (StopRequest())
        return Interrupted(console, summary, "interrupted before the first command; nothing sent");
    return ExitOk;
}

int Connect(const CommonOptions& common, bool flashing, bool allowBattery, Console& console, JsonSummary& summary,
            OpenBackend& backend)
{
    if (const int code = Open(common, console, summary, backend); code != ExitOk)
        return code;
    return Ready(backend, flashing, allowBattery, console, summary);
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

// The eight version bytes of each port, as the monitor shows them; their
// labels are told as results when `show` is set. `json` gets an array.
int ReadVersions(Session& session, ConsoleView& view, const std::vector<int>& ports, const CommonOptions& common,
                 bool show, Console& console, JsonSummary& summary, std::string& json)
{
    pd::VersionMonitor monitor(session.mailbox, session.ports, view);
    const auto bound = ToDuration(common.timeoutSeconds);
    json = "[";
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
        if (show)
            console.Result(label);
        // "PORT1 FW2 VER : " and eight "XX " groups.
        std::string bytes = label.size() > 16 ? label.substr(16) : std::string();
        while (!bytes.empty() && bytes.back() == ' ')
            bytes.pop_back();
        if (json.size() > 1)
            json += ", ";
        json += "{\"port\": " + std::to_string(port) + ", \"version\": " + JsonSummary::Quote(bytes) +
                ", \"label\": " + JsonSummary::Quote(label) + "}";
    }
    json += "]";
    return ExitOk;
}

// Reads the range into `store` with the read sequence.
int ReadRange(Session& session, pd::ImageStore& store, const Phase& phase, const Range& range,
              const CommonOptions& common, Console& console, ConsoleView& view, JsonSummary& summary)
{
    pd::FlashReadSequence read(session.mailbox, store, session.ports, view, ToDuration(common.timeoutSeconds));
    const int code = RunSequence(read, &pd::FlashReadSequence::Button3Click, &pd::FlashReadSequence::Timer3Timer,
                                 &pd::FlashReadSequence::ReadState, phase, range, common, console, view, summary);
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

int RunFlash(const CommonOptions& common, const FlashOptions& options, Console& console, JsonSummary& summary)
{
    const Clock::time_point began = Clock::now();
    summary.Set("command", "flash");
    Range range;
    if (const int code = CheckRange(options.range, console, summary, range); code != ExitOk)
        return code;
    summary.Set("image", options.imagePath);
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
        const OutputFile::Problem problem = backupFile.Prepare(options.backupPath);
        if (problem.code)
            return Fail(console, summary, problem.code, "backup: " + problem.message);
        summary.Set("backup", options.backupPath);
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
    if (imageAt != 0) {
        // Buffer index is flash address: the file moves to where it belongs.
        uint8_t* buffer = image->ImageBuffer.data();
        std::memmove(buffer + imageAt, buffer, static_cast<size_t>(image->ImageLength));
        std::fill(buffer, buffer + imageAt, uint8_t{0xFF});
    }

    if (common.dryRun)
        return DryRunPorts(common, console, summary,
                           std::string(options.backupPath.empty() ? "" : "would back the range up into " +
                                                                             options.backupPath + ", then ") +
                               "would flash " + std::to_string(range.Blocks()) + " blocks " +
                               Hex(range.startBlock, 4) + ".." + Hex(range.endBlock - 1, 4) + " of port " +
                               std::to_string(options.range.port) + (options.verify ? " and verify them" : ""));

    if (const int code = Ready(backend, true, options.allowBattery, console, summary); code != ExitOk)
        return code;
    Session session(*backend.io, options.range.port);

    // A production line keeps what was on both ports before and after.
    std::string versions;
    if (console.Json()) {
        if (const int code = ReadVersions(session, view, {1, 2}, common, false, console, summary, versions);
            code != ExitOk)
            return code;
        summary.SetRaw("versionsBefore", versions);
        view.SetPort(options.range.port);
        session.ForceSelection(options.range.port);
    }

    if (!options.backupPath.empty()) {
        auto saved = std::make_unique<pd::ImageStore>();
        const Phase backup{"backup", false, "; nothing written to the flash"};
        if (const int code = ReadRange(session, *saved, backup, range, common, console, view, summary); code != ExitOk)
            return code;
        const OutputFile::Problem problem =
            backupFile.Commit(saved->ImageBuffer.data(), static_cast<size_t>(saved->ImageLength));
        if (problem.code)
            return Fail(console, summary, problem.code, "backup: " + problem.message + "; nothing written to the flash");
        summary.Set("backupBytes", saved->ImageLength);
        if (StopRequest())
            return Interrupted(console, summary, "interrupted after the backup; nothing written to the flash");
    }

    pd::FlashWriteSequence write(session.mailbox, *image, session.ports, view, ToDuration(common.timeoutSeconds));
    const Phase writing{"flash write", true, "; flash again to complete"};
    int code = RunSequence(write, &pd::FlashWriteSequence::Button2Click, &pd::FlashWriteSequence::Timer2Timer,
                           &pd::FlashWriteSequence::FlashState, writing, range, common, console, view, summary);
    summary.Set("blocksWritten", write.BlocksDone());
    if (code != ExitOk)
        return code;

    if (options.verify) {
        if (StopRequest())
            return Interrupted(console, summary, "interrupted after the flash was written and validated; not verified");
        auto back = std::make_unique<pd::ImageStore>();
        const Phase verify{"verify", false, "; the flash was written and validated but is not verified"};
        if ((code = ReadRange(session, *back, verify, range, common, console, view, summary)) != ExitOk)
            return code;
        const size_t length = size_t{range.Blocks()} * 256;
        const uint8_t* wrote = image->ImageBuffer.data() + range.FirstAddress();
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
            return Fail(console, summary, ExitVerify,
                        "verify: flash address " + Hex(address, 6) + " holds " + Hex(got[first], 2) +
                            ", the image has " + Hex(wrote[first], 2) + " (" + std::to_string(differing) +
                            " byte" + (differing == 1 ? "" : "s") + " differ)");
        }
    }
    if (console.Json()) {
        if ((code = ReadVersions(session, view, {1, 2}, common, false, console, summary, versions)) != ExitOk)
            return code;
        summary.SetRaw("versionsAfter", versions);
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

    // Checked, and the temporary file made, before the EC is reached: a
    // folder that cannot be written fails now, not after every block.
    OutputFile output;
    if (const OutputFile::Problem problem = output.Prepare(options.outputPath); problem.code)
        return Fail(console, summary, problem.code, problem.message);

    if (common.dryRun)
        return DryRunPorts(common, console, summary,
                           "would read " + std::to_string(range.Blocks()) + " blocks " + Hex(range.startBlock, 4) +
                               ".." + Hex(range.endBlock - 1, 4) + " of port " + std::to_string(options.range.port) +
                               " into " + output.Target());

    OpenBackend backend;
    if (const int code = Connect(common, false, false, console, summary, backend); code != ExitOk)
        return code;
    Session session(*backend.io, options.range.port);
    ConsoleView view(console, options.range.startText, options.range.endText, options.range.port);

    auto store = std::make_unique<pd::ImageStore>();
    const Phase reading{"read", false, "; nothing saved"};
    if (const int code = ReadRange(session, *store, reading, range, common, console, view, summary); code != ExitOk)
        return code;
    if (const OutputFile::Problem problem =
            output.Commit(store->ImageBuffer.data(), static_cast<size_t>(store->ImageLength));
        problem.code)
        return Fail(console, summary, problem.code, "output " + options.outputPath + ": " + problem.message);
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
    if (const int code = Connect(common, false, false, console, summary, backend); code != ExitOk)
        return code;
    Session session(*backend.io, ports.front());
    ConsoleView view(console, DefaultStartText, DefaultEndText, ports.front());
    std::string versions;
    if (const int code = ReadVersions(session, view, ports, common, true, console, summary, versions); code != ExitOk)
        return code;
    summary.SetRaw("versions", versions);
    return ExitOk;
}

} // namespace vyk::cli
