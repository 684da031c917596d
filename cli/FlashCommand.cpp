// vykuu flash: the backup, the write and the verify of one range, each a
// sequence run of its own on one connection.
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "cli/StopNotice.h"
#include "cli/RunRecord.h"
#include "cli/Sidecar.h"
#include "cli/RunReport.h"
#include "pd/Backup.h"
#include "pd/FlashVerify.h"
#include "pd/ImageRecord.h"
#include "pd/ImageRules.h"

namespace vyk::cli {

namespace fs = std::filesystem;

namespace {

// What a flash brings to the EC besides the image: the backup to write (or
// the one that exists), its record, the notebook it is on, and what
// --allow-short pads.
struct FlashPlan {
    platform::OutputFile backupFile, backupRecord;
    pd::ExistingBackup existing;
    platform::Machine machine;
    std::string padding;
};

// The backup's checks, and its temporary file made, before the EC is reached.
void PrepareBackup(const CommonOptions& common, const FlashOptions& options, const Range& range, FlashPlan& plan,
                   JsonSummary& summary)
{
    std::error_code ec;
    if (options.backupPath == "-")
        throw Failure(Fault::Usage, "--backup needs a file; standard output carries the log");
    if (fs::equivalent(options.backupPath, options.imagePath, ec))
        throw Failure(Fault::Usage, "--backup " + options.backupPath + " is the image file itself; give another file");
    const std::string name = options.backupPath;
    if (fs::is_regular_file(fs::status(name, ec))) {
        const std::string refusal = pd::ReadExistingBackup(name, range, options.range.port, plan.existing);
        if (!refusal.empty())
            throw Failure(Fault::File, refusal);
        summary.Set("backup", AbsolutePath(name));
        return;
    }
    try {
        plan.backupFile.Prepare(name, OutputRules(common, "backup", true));
    } catch (NameTaken& taken) {
        throw taken.Then(": a backup is written once, so that a second run cannot overwrite the firmware it saved; "
                         "give a new name" + pd::FreeNameOffer(name) + ", or none to flash without a backup");
    }
    PrepareSidecar(common, name, plan.backupRecord);
    summary.Set("backup", AbsolutePath(plan.backupFile.Target()));
}

// The command that flashes this image again, as given, without --backup.
std::string CompleteCommand(const CommonOptions& common, const FlashOptions& options, const PdLeft& left)
{
    std::string text = ToolText(common) + " flash --port " + std::to_string(options.range.port) + left.rangeArgs;
    if (!options.imageAtText.empty())
        text += " --image-at " + pd::ShellWord(options.imageAtText);
    if (options.allowShort)
        text += " --allow-short";
    if (options.allowLowRange)
        text += " --allow-low-range";
    return text + " " + pd::ShellWord(options.imagePath);
}

// The image file into the buffer, where its first byte belongs; returns
// the SHA-256 of its bytes.
std::string LoadImage(const FlashOptions& options, uint32_t imageAt, pd::ImageStore& image, Console& console,
                      JsonSummary& summary)
{
    if (!pd::LoadImageFile(image, options.imagePath, [&](std::string_view line) { console.LogLine(line); }))
        throw Failure(Fault::File, "image file " + options.imagePath + " could not be loaded (see the log)");
    // Recorded as the file holds it, before it moves to where it belongs.
    const std::string sha256 = RecordFile(summary, "image", options.imagePath, image.ImageBuffer.data(),
                                          static_cast<size_t>(image.ImageLength));
    pd::PlaceImage(image, imageAt);
    return sha256;
}

// The range into the backup file; nothing is written to the flash when it fails.
void BackUp(pd::EcConnection& connection, const CommonOptions& common, const FlashOptions& options, const Range& range,
            FlashPlan& plan, PdLeft& left, Console& console, JsonSummary& summary)
{
    auto saved = std::make_unique<pd::ImageStore>();
    const Phase backup{"backup", false, "; nothing written to the flash", &left};
    ReadRange(connection, *saved, backup, range, options.range.port, common, console);
    const auto size = static_cast<size_t>(saved->ImageLength);
    try {
        plan.backupFile.Commit(saved->ImageBuffer.data(), size);
    } catch (Failure& failure) {
        throw failure.Within("backup").Then("; nothing written to the flash");
    }
    RecordFile(summary, "backup", plan.backupFile.Target(), saved->ImageBuffer.data(), size);
    left.backupPath = plan.backupFile.Target();
    const std::string recordPath = SidecarPath(options.backupPath);
    try {
        WriteSidecar(plan.backupRecord,
                     ProvenanceOf(common.toolVersion, left.port, range, plan.machine, saved->ImageBuffer.data(), size));
    } catch (Failure& failure) {
        throw failure.Within("record " + recordPath)
            .Then("; the backup itself was saved whole; nothing written to the flash");
    }
    summary.Set("record", AbsolutePath(recordPath));
    if (StopRequest())
        throw Interruption("interrupted after the backup; nothing written to the flash");
}

// The rerun of a flash whose --backup exists: the range read and compared
// with it. Equal: the backup holds this firmware and stays the backup.
// The range holds the image: the earlier flash completed. Else a flash was
// stopped half way and the backup is the only whole firmware: refused.
void KeepBackup(pd::EcConnection& connection, const CommonOptions& common, const FlashOptions& options,
                const Range& range, const pd::ImageStore& image, const pd::ExistingBackup& existing, PdLeft& left,
                Console& console, JsonSummary& summary)
{
    auto now = std::make_unique<pd::ImageStore>();
    const Phase check{"backup check", false, "; nothing written to the flash", &left};
    ReadRange(connection, *now, check, range, options.range.port, common, console);
    left.backupPath = existing.path;
    const pd::RerunCheck found =
        pd::CheckRerun(now->ImageBuffer.data(), existing, image.ImageBuffer.data() + range.FirstAddress(), range,
                       options.range.port, pd::InterruptedBackupAdvice(left, CompleteCommand(common, options, left)));
    summary.Set("backupKept", found.goesOn);
    if (!found.goesOn)
        throw Failure(Fault::File, found.text);
    console.Note(found.text);
    if (StopRequest())
        throw Interruption("interrupted after the backup check; nothing written to the flash");
}

// The record saved beside the image (FILE.json), when there is one: the
// same bytes, from this port and this notebook, unless --force. Without a
// record a file flashes as it always has. `machine` is null when unknown.
void CheckImageRecord(const FlashOptions& options, uint32_t imageAt, const std::string& imageSha256,
                      const platform::Machine* machine, Console& console, JsonSummary& summary)
{
    const pd::ImageUse use{
        .sha256 = imageSha256,
        .imageAt = imageAt, .port = options.range.port, .serial = machine ? machine->serial : std::string()};
    const pd::RecordBeside record = pd::CheckRecordBeside(options.imagePath, use);
    if (record.path.empty())
        return;
    summary.Set("imageRecord", AbsolutePath(record.path));
    const pd::Provenance& saved = record.saved;
    const std::vector<std::string>& problems = record.problems;
    if (problems.empty()) {
        console.Note("image file " + options.imagePath + " matches its record " + record.path + " (port " +
                     std::to_string(saved.port) + (saved.serial.empty() ? "" : ", serial " + saved.serial) +
                     ", saved " + saved.time + ")");
        return;
    }
    std::string all;
    for (const auto& problem : problems)
        all += (all.empty() ? "" : "; ") + problem;
    if (!options.force)
        throw Failure(Fault::File, "image file " + options.imagePath + ": " + all +
                                    ". Nothing flashed; give --force to flash it all the same");
    console.Note("flashing image file " + options.imagePath + " although " + all + " (--force)");
}

// The range read back and compared with the image.
void Verify(pd::EcConnection& connection, const CommonOptions& common, const FlashOptions& options, const Range& range,
            const pd::ImageStore& image, PdLeft& left, Console& console, JsonSummary& summary)
{
    const Phase verify{"verify", false, "; the flash was written and validated but is not verified", &left};
    pd::VerifyResult result;
    RunPhase(verify, range, options.range.port, common, console, [&](const pd::RunRequest& request) {
        result = pd::VerifyFlash(connection, request, image);
        return result.run;
    });
    const size_t length = size_t{range.Blocks()} * 256;
    const pd::FlashComparison& compared = result.compared;
    const size_t differing = compared.differingBytes;
    summary.Set("verified", differing == 0);
    if (differing != 0) {
        const uint32_t address = compared.firstAddress;
        summary.Set("firstMismatch", pd::HexDigits(address, 6));
        summary.Set("mismatchedBytes", static_cast<int64_t>(differing));
        throw Failure(Fault::Verify, "flash address " + Hex(address, 6) + " holds " + Hex(compared.got, 2) +
                                      ", the image has " + Hex(compared.wrote, 2) + " (" + std::to_string(differing) +
                                      " byte" + (differing == 1 ? "" : "s") + " differ)")
            .Within("verify")
            .Advise(pd::MismatchAdvice(left, options.imagePath));
    }
    const int port = options.range.port;
    console.Note("verified: " + BlocksText(range, port) + " match the image, all " + std::to_string(length) +
                 " bytes read back");
    console.SetAchieved("the flash of " + BlocksText(range, port) + " completed and verified");
}

// The range written from the image; the blocks it got to go into the
// summary however it ends.
void Write(pd::EcConnection& connection, const CommonOptions& common, const Range& range, int port,
           pd::ImageStore& image, PdLeft& left, Console& console, JsonSummary& summary)
{
    left.stage = PdLeft::Stage::Writing;
    std::string afterStop = "; flash again to complete";
    if (!left.backupPath.empty())
        afterStop += ". " + pd::RetryAdvice(left);
    const Phase writing{"flash write", true, afterStop, &left};
    uint32_t written = 0;
    const auto write = [&](const pd::RunRequest& request) {
        const pd::RunResult result = pd::WriteFlash(connection, request, image);
        written = result.blocksDone;
        return result;
    };
    try {
        RunPhase(writing, range, port, common, console, write);
    } catch (const Failure&) {
        summary.Set("blocksWritten", written);
        throw;
    }
    summary.Set("blocksWritten", written);
}

// What follows the connection of a flash: the backup, the write, the verify.
void FlashOnConnection(pd::EcConnection& connection, const CommonOptions& common, const FlashOptions& options,
                       const Range& range, pd::ImageStore& image, FlashPlan& plan, PdLeft& left, Console& console,
                       JsonSummary& summary)
{
    const int port = options.range.port;
    if (console.Json()) {
        // A production line keeps what was on both ports before and after.
        RecordVersions(connection, {1, 2}, common, false, console, summary, "versionsBefore");
        connection.ForceSelection(pd::PdPortOf(port));
    }
    const std::string otherNotebook = pd::BackupNotebookRefusal(plan.existing, plan.machine.serial);
    if (!otherNotebook.empty())
        throw Failure(Fault::File, otherNotebook);
    if (!plan.existing.path.empty())
        KeepBackup(connection, common, options, range, image, plan.existing, left, console, summary);
    else if (!options.backupPath.empty())
        BackUp(connection, common, options, range, plan, left, console, summary);

    Write(connection, common, range, port, image, left, console, summary);

    left.stage = PdLeft::Stage::Written;
    // The padding is part of what was flashed: said with the result.
    const std::string& padding = plan.padding;
    const std::string padded = padding.empty() ? std::string() : "; " + padding + " (--allow-short)";
    if (!options.verify) {
        console.Note("written: " + BlocksText(range, port) + ", validated and the PD reset; not read back "
                     "(--no-verify)" + padded);
        console.SetAchieved("the flash of " + BlocksText(range, port) +
                            " completed; it was not verified (--no-verify)" + padded);
        return;
    }
    // A stop from here on leaves a whole, validated flash: not the half
    // written one that exit 8 tells of.
    if (StopRequest())
        throw Failure(Fault::NotVerified, "interrupted after the flash was written and validated; not verified");
    // Said before the read-back, whose line ends the run.
    if (!padding.empty())
        console.Note("written: " + BlocksText(range, port) + "; of these, " + padding + " (--allow-short)");
    try {
        Verify(connection, common, options, range, image, left, console, summary);
    } catch (const Failure& failure) {
        if (failure.Kind() != Fault::Interrupted)
            throw;
        Failure whole(Fault::NotVerified, failure.Message());
        throw whole.Advise(failure.Advice());
    }
    if (!padding.empty())
        console.SetAchieved(console.Achieved() + padded);
}

// The checks before the EC, then the EC; the exit code, the failure told.
int Flash(const CommonOptions& common, const FlashOptions& options, Console& console, JsonSummary& summary)
{
    Range range;
    CheckRange(options.range, summary, range);
    CheckFlashRange(options, range, console);
    summary.Set("image", AbsolutePath(options.imagePath));
    summary.Set("verify", options.verify);
    uint32_t imageAt = 0;
    CheckImageAt(options, summary, imageAt);
    FlashPlan plan;
    plan.padding = CheckImage(options, range, imageAt, console, summary);
    if (!options.backupPath.empty())
        PrepareBackup(common, options, range, plan, summary);

    // The lock first: a second program is refused before it reads anything.
    platform::OpenBackend backend;
    if (!common.dryRun)
        Open(common, console, summary, backend);
    auto image = std::make_unique<pd::ImageStore>();
    const std::string imageSha256 = LoadImage(options, imageAt, *image, console, summary);
    if (!common.dryRun)
        plan.machine = platform::MachineOf(backend);
    CheckImageRecord(options, imageAt, imageSha256, common.dryRun ? nullptr : &plan.machine, console, summary);
    if (common.dryRun) {
        DryRunPorts(common, true, options.allowBattery, console, summary,
                    std::string(options.backupPath.empty() ? ""
                                : !plan.existing.path.empty() ? "would compare the range with the existing backup " +
                                                               options.backupPath + " (kept), then "
                                                         : "would back the range up into " + options.backupPath +
                                                               ", then ") +
                        "would flash " + BlocksText(range, options.range.port) +
                        (options.verify ? " and verify them" : ""));
        return ExitOk;
    }

    Ready(backend, true, options.allowBattery, console);
    pd::EcConnection connection(*backend.io, pd::PdPortOf(options.range.port));
    PdLeft left;
    left.port = options.range.port;
    left.tool = ToolText(common);
    left.backupImageAt = pd::HexDigits(range.FirstAddress(), 6);
    if (options.range.startText != DefaultStartText || options.range.endText != DefaultEndText)
        left.rangeArgs =
            " --start " + pd::ShellWord(options.range.startText) + " --end " + pd::ShellWord(options.range.endText);
    const int code = Told(console, summary, [&] {
        FlashOnConnection(connection, common, options, range, *image, plan, left, console, summary);
    });
    // What both ports show now, on every end where the EC still answers.
    if (console.Json() && code != ExitEcBusy) {
        try {
            summary.SetRaw("versionsAfter", ReadVersionsOf(connection, {1, 2}, common, false, console));
        } catch (const Failure&) {
        }
    }
    return code;
}

} // namespace

int RunFlash(const CommonOptions& common, const FlashOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "flash");
    int code = ExitOk;
    if (const int refused = Told(console, summary, [&] { code = Flash(common, options, console, summary); }))
        return refused;
    return code;
}

} // namespace vyk::cli
