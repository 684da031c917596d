// vykuu flash: the backup, the write and the verify of one range, each a
// sequence run of its own on one session.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/Interrupt.h"
#include "cli/RunRecord.h"
#include "cli/SequenceDriver.h"
#include "pd/FlashWriteSequence.h"

namespace vyk::cli {

namespace fs = std::filesystem;

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

// The backup's checks, and its temporary file made, before the EC is reached.
int PrepareBackup(const CommonOptions& common, const FlashOptions& options, OutputFile& backupFile,
                  Console& console, JsonSummary& summary)
{
    std::error_code ec;
    if (options.backupPath == "-")
        return Fail(console, summary, ExitUsage, "--backup needs a file; standard output carries the log");
    if (fs::equivalent(options.backupPath, options.imagePath, ec))
        return Fail(console, summary, ExitUsage,
                    "--backup " + options.backupPath + " is the image file itself; give another file");
    try {
        backupFile.Prepare(options.backupPath, OutputRules(common, "backup", true));
    } catch (NameTaken& taken) {
        const std::string free = FreeName(options.backupPath);
        return Fail(console, summary,
                    taken.Then(": a backup is written once, so that a second run cannot overwrite the firmware it "
                               "saved; give a new name" + (free.empty() ? std::string() : " (" + free + ")") +
                               ", or none to flash without a backup"));
    } catch (const Failure& failure) {
        return Fail(console, summary, failure);
    }
    summary.Set("backup", AbsolutePath(backupFile.Target()));
    return ExitOk;
}

// The image file into the buffer, where its first byte belongs.
int LoadImage(const FlashOptions& options, uint32_t imageAt, pd::ImageStore& image, ConsoleView& view,
              Console& console, JsonSummary& summary)
{
    if (!pd::LoadImageFile(image, options.imagePath, view))
        return Fail(console, summary, ExitFile, "image file " + options.imagePath + " could not be loaded (see the log)");
    RecordFile(summary, "image", options.imagePath, image.ImageBuffer.data(), static_cast<size_t>(image.ImageLength));
    if (imageAt != 0) {
        // Buffer index is flash address: the file moves to where it belongs.
        uint8_t* buffer = image.ImageBuffer.data();
        std::memmove(buffer + imageAt, buffer, static_cast<size_t>(image.ImageLength));
        std::fill(buffer, buffer + imageAt, uint8_t{0xFF});
    }
    return ExitOk;
}

// The range into the backup file; nothing is written to the flash when it fails.
int BackUp(Session& session, const CommonOptions& common, const Range& range, OutputFile& backupFile, PdLeft& left,
           Console& console, ConsoleView& view, JsonSummary& summary)
{
    auto saved = std::make_unique<pd::ImageStore>();
    const Phase backup{"backup", false, "; nothing written to the flash", &left};
    if (const int code = ReadRange(session, *saved, backup, range, common, console, view, summary); code != ExitOk)
        return code;
    const auto size = static_cast<size_t>(saved->ImageLength);
    try {
        backupFile.Commit(saved->ImageBuffer.data(), size);
    } catch (Failure& failure) {
        return Fail(console, summary, failure.Within("backup").Then("; nothing written to the flash"));
    }
    RecordFile(summary, "backup", backupFile.Target(), saved->ImageBuffer.data(), size);
    left.backupPath = backupFile.Target();
    if (StopRequest())
        return Interrupted(console, summary, "interrupted after the backup; nothing written to the flash");
    return ExitOk;
}

// The range read back and compared with the image.
int Verify(Session& session, const CommonOptions& common, const FlashOptions& options, const Range& range,
           const pd::ImageStore& image, PdLeft& left, Console& console, ConsoleView& view, JsonSummary& summary)
{
    auto back = std::make_unique<pd::ImageStore>();
    const Phase verify{"verify", false, "; the flash was written and validated but is not verified", &left};
    if (const int code = ReadRange(session, *back, verify, range, common, console, view, summary); code != ExitOk)
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
        const int code = Fail(console, summary, ExitVerify,
                              "verify: flash address " + Hex(address, 6) + " holds " + Hex(got[first], 2) +
                                  ", the image has " + Hex(wrote[first], 2) + " (" + std::to_string(differing) +
                                  " byte" + (differing == 1 ? "" : "s") + " differ)");
        TellPdLeft(console, summary, MismatchAdvice(left, options.imagePath));
        return code;
    }
    const int port = options.range.port;
    console.Note("verified: " + BlocksText(range, port) + " match the image, all " + std::to_string(length) +
                 " bytes read back");
    console.SetAchieved("the flash of " + BlocksText(range, port) + " completed and verified");
    return ExitOk;
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
    if (!options.backupPath.empty())
        if (const int code = BackUp(session, common, range, backupFile, left, console, view, summary); code != ExitOk)
            return code;

    left.stage = PdLeft::Stage::Writing;
    pd::FlashWriteSequence write(session.mailbox, image, session.ports, view, ToDuration(common.timeoutSeconds));
    std::string afterStop = "; flash again to complete";
    if (!left.backupPath.empty())
        afterStop += ". " + RetryAdvice(left);
    const Phase writing{"flash write", true, afterStop, &left};
    const int code = RunSequence(session, write, writing, range, common, console, view, summary);
    summary.Set("blocksWritten", write.BlocksDone());
    if (code != ExitOk)
        return code;

    left.stage = PdLeft::Stage::Written;
    if (!options.verify) {
        console.Note("written: " + BlocksText(range, port) + ", validated and the PD reset; not read back "
                     "(--no-verify)");
        console.SetAchieved("the flash of " + BlocksText(range, port) + " completed; it was not verified (--no-verify)");
        return ExitOk;
    }
    if (StopRequest())
        return Interrupted(console, summary, "interrupted after the flash was written and validated; not verified");
    return Verify(session, common, options, range, image, left, console, view, summary);
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
    if (const int code = CheckImageAt(options, console, summary, imageAt); code != ExitOk)
        return code;
    if (const int code = CheckImage(options, range, imageAt, console, summary); code != ExitOk)
        return code;
    OutputFile backupFile;
    if (!options.backupPath.empty())
        if (const int code = PrepareBackup(common, options, backupFile, console, summary); code != ExitOk)
            return code;

    // The lock first: a second program is refused before it reads anything.
    OpenBackend backend;
    if (!common.dryRun)
        if (const int code = Open(common, console, summary, backend); code != ExitOk)
            return code;
    ConsoleView view(console, options.range.startText, options.range.endText, options.range.port);
    auto image = std::make_unique<pd::ImageStore>();
    if (const int code = LoadImage(options, imageAt, *image, view, console, summary); code != ExitOk)
        return code;
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

} // namespace vyk::cli
