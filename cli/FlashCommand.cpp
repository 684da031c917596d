// vykuu flash: the backup, the write and the verify of one range, each a
// sequence run of its own on one session.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "cli/StopNotice.h"
#include "cli/RunRecord.h"
#include "cli/Platform.h"
#include "cli/Sidecar.h"
#include "cli/RunReport.h"
#include "pd/FlashVerify.h"
#include "pd/ImageRecord.h"
#include "pd/ImageRules.h"

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

// A backup file that exists: the rerun of a flash that made it, whose bytes
// the range is compared with before anything is written.
struct ExistingBackup {
    std::string path;
    std::vector<uint8_t> bytes;
    std::string serial;   // the notebook its record names, when known
};

// What a flash brings to the EC besides the image: the backup to write (or
// the one that exists), its record, the notebook it is on, and what
// --allow-short pads.
struct FlashPlan {
    OutputFile backupFile, backupRecord;
    ExistingBackup existing;
    Machine machine;
    std::string padding;
};

// A record's text, at most 64 KiB of it; the file is closed.
std::string ReadRecordText(std::FILE* f)
{
    std::string text;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < 65536;)
        text.append(chunk, n);
    std::fclose(f);
    return text;
}

// A --backup that exists is never replaced; what it holds decides whether
// the run goes on, so it is read whole now.
void ReadExistingBackup(const FlashOptions& options, const Range& range, ExistingBackup& existing)
{
    std::error_code ec;
    const std::string& name = options.backupPath;
    const size_t length = size_t{range.Blocks()} * 256;
    const auto size = fs::file_size(name, ec);
    if (ec || size != length) {
        const std::string free = FreeName(name);
        throw Failure(Fault::File, "backup " + name + " exists (" + FileFacts(name) + ") and is not replaced; "
                                "it is no backup of the range " +
                                    pd::AddressRangeText(range.FirstAddress(), range.EndAddress()) + ", which has " +
                                    std::to_string(length) + " bytes: give a new name" +
                                    (free.empty() ? std::string() : " (" + free + ")") +
                                    ", or none to flash without a backup");
    }
    // Its record, when it has one, says whose range it holds: a backup of
    // the other port would be taken for a flash interrupted here.
    std::string recordText, why;
    Provenance saved;
    // Only a plain file is opened: a FIFO put there would hold the run
    // before the EC is reached, with nothing said.
    std::FILE* record = fs::is_regular_file(fs::status(SidecarPath(name), ec))
                            ? std::fopen(SidecarPath(name).c_str(), "rb")
                            : nullptr;
    if (record) {
        recordText = ReadRecordText(record);
        if (ParseSidecar(recordText, saved, why) &&
            (saved.port != options.range.port || saved.start != pd::HexDigits(range.FirstAddress(), 6))) {
            const std::string free = FreeName(name);
            throw Failure(Fault::File, "backup " + name + " exists (" + FileFacts(name) +
                                        ") and is not replaced; its record " + SidecarPath(name) +
                                        " says it holds port " + std::to_string(saved.port) + "'s range from " +
                                        "0x" + saved.start + ", not port " + std::to_string(options.range.port) +
                                        "'s from " + Hex(range.FirstAddress(), 6) + ": give a new name" +
                                        (free.empty() ? std::string() : " (" + free + ")"));
        }
    }
    if (recordText.size() && why.empty())
        existing.serial = saved.serial;
    existing.bytes.resize(length);
    std::FILE* f = std::fopen(name.c_str(), "rb");
    const bool read = f && std::fread(existing.bytes.data(), 1, length, f) == length;
    if (f)
        std::fclose(f);
    if (!read)
        throw Failure(Fault::File, "backup " + name + " exists and cannot be read: " + std::strerror(errno));
    existing.path = name;
}

// The backup's checks, and its temporary file made, before the EC is reached.
void PrepareBackup(const CommonOptions& common, const FlashOptions& options, const Range& range,
                   OutputFile& backupFile, OutputFile& backupRecord, ExistingBackup& existing, JsonSummary& summary)
{
    std::error_code ec;
    if (options.backupPath == "-")
        throw Failure(Fault::Usage, "--backup needs a file; standard output carries the log");
    if (fs::equivalent(options.backupPath, options.imagePath, ec))
        throw Failure(Fault::Usage, "--backup " + options.backupPath + " is the image file itself; give another file");
    const std::string name = options.backupPath;
    if (fs::is_regular_file(fs::status(name, ec))) {
        ReadExistingBackup(options, range, existing);
        summary.Set("backup", AbsolutePath(name));
        return;
    }
    try {
        backupFile.Prepare(name, OutputRules(common, "backup", true));
    } catch (NameTaken& taken) {
        const std::string free = FreeName(name);
        throw taken.Then(": a backup is written once, so that a second run cannot overwrite the firmware it saved; "
                         "give a new name" + (free.empty() ? std::string() : " (" + free + ")") +
                         ", or none to flash without a backup");
    }
    PrepareSidecar(common, name, backupRecord);
    summary.Set("backup", AbsolutePath(backupFile.Target()));
}

// The command that flashes this image again, as given, without --backup.
std::string CompleteCommand(const CommonOptions& common, const FlashOptions& options, const PdLeft& left)
{
    std::string text = ToolText(common) + " flash --port " + std::to_string(options.range.port) + left.rangeArgs;
    if (!options.imageAtText.empty())
        text += " --image-at " + ShellWord(options.imageAtText);
    if (options.allowShort)
        text += " --allow-short";
    if (options.allowLowRange)
        text += " --allow-low-range";
    return text + " " + ShellWord(options.imagePath);
}

// The image file into the buffer, where its first byte belongs.
void LoadImage(const FlashOptions& options, uint32_t imageAt, pd::ImageStore& image, Console& console,
               JsonSummary& summary)
{
    if (!pd::LoadImageFile(image, options.imagePath, [&](std::string_view line) { console.LogLine(line); }))
        throw Failure(Fault::File, "image file " + options.imagePath + " could not be loaded (see the log)");
    // Recorded as the file holds it, before it moves to where it belongs.
    RecordFile(summary, "image", options.imagePath, image.ImageBuffer.data(), static_cast<size_t>(image.ImageLength));
    pd::PlaceImage(image, imageAt);
}

// The range into the backup file; nothing is written to the flash when it fails.
void BackUp(Session& session, const CommonOptions& common, const FlashOptions& options, const Range& range,
            FlashPlan& plan, PdLeft& left, Console& console, JsonSummary& summary)
{
    auto saved = std::make_unique<pd::ImageStore>();
    const Phase backup{"backup", false, "; nothing written to the flash", &left};
    ReadRange(session, *saved, backup, range, options.range.port, common, console);
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
                     ProvenanceOf(common, left.port, range, plan.machine, saved->ImageBuffer.data(), size));
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
void KeepBackup(Session& session, const CommonOptions& common, const FlashOptions& options, const Range& range,
                const pd::ImageStore& image, const ExistingBackup& existing, PdLeft& left, Console& console,
                JsonSummary& summary)
{
    auto now = std::make_unique<pd::ImageStore>();
    const Phase check{"backup check", false, "; nothing written to the flash", &left};
    ReadRange(session, *now, check, range, options.range.port, common, console);
    const size_t length = existing.bytes.size();
    const std::string rangeText = pd::AddressRangeText(range.FirstAddress(), range.EndAddress());
    left.backupPath = existing.path;
    summary.Set("backupKept", true);
    using Found = pd::BackupComparison::Case;
    const pd::BackupComparison compared = pd::CompareWithBackup(
        now->ImageBuffer.data(), existing.bytes.data(), image.ImageBuffer.data() + range.FirstAddress(), length);
    if (compared.found == Found::MatchesBackup) {
        console.Note("backup " + existing.path + " exists and holds what port " + std::to_string(options.range.port) +
                     "'s range " + rangeText + " holds now (all " + std::to_string(length) +
                     " bytes match): kept as this flash's backup, not written again");
    } else if (compared.found == Found::HoldsImage) {
        console.Note("port " + std::to_string(options.range.port) + "'s range " + rangeText +
                     " holds the image already (an earlier flash of it completed); the backup " + existing.path +
                     " keeps the firmware from before it");
    } else {
        summary.Set("backupKept", false);
        throw Failure(Fault::File, "backup " + existing.path + ": port " + std::to_string(options.range.port) +
                                    "'s range " + rangeText + " no longer matches the backup (first at " +
                                    Hex(range.FirstAddress() + static_cast<uint32_t>(compared.firstDiffering), 6) +
                                    "), nor the image: a flash was interrupted after the backup was made. Nothing "
                                    "written. " + InterruptedBackupAdvice(left, CompleteCommand(common, options, left)));
    }
    if (StopRequest())
        throw Interruption("interrupted after the backup check; nothing written to the flash");
}

// The record saved beside the image (FILE.json), when there is one: the
// same bytes, from this port and this notebook, unless --force. Without a
// record a file flashes as it always has. `machine` is null when unknown.
void CheckImageRecord(const FlashOptions& options, uint32_t imageAt, const pd::ImageStore& image,
                      const Machine* machine, Console& console, JsonSummary& summary)
{
    const std::string recordPath = SidecarPath(options.imagePath);
    std::error_code ec;
    const fs::file_status status = fs::status(recordPath, ec);
    if (!fs::exists(status))
        return;
    summary.Set("imageRecord", AbsolutePath(recordPath));
    std::vector<std::string> problems;
    std::string why;
    Provenance saved;
    if (std::FILE* f = fs::is_regular_file(status) ? std::fopen(recordPath.c_str(), "rb") : nullptr) {
        if (!ParseSidecar(ReadRecordText(f), saved, why))
            problems.push_back("its record " + recordPath + " cannot be read: " + why);
    } else {
        problems.push_back("its record " + recordPath + " cannot be read: " +
                           (fs::is_regular_file(status) ? std::string(std::strerror(errno))
                                                        : "it is " + std::string(KindOf(status.type()))));
    }
    if (problems.empty()) {
        const pd::SavedRead read{.sha256 = saved.sha256, .start = saved.start, .time = saved.time,
                                 .port = saved.port, .serial = saved.serial};
        const pd::ImageUse use{
            .sha256 = Sha256Hex(image.ImageBuffer.data() + imageAt, static_cast<size_t>(image.ImageLength)),
            .imageAt = imageAt, .port = options.range.port, .serial = machine ? machine->serial : std::string()};
        problems = pd::ImageRecordProblems(read, recordPath, use);
    }
    if (problems.empty()) {
        console.Note("image file " + options.imagePath + " matches its record " + recordPath + " (port " +
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
void Verify(Session& session, const CommonOptions& common, const FlashOptions& options, const Range& range,
            const pd::ImageStore& image, PdLeft& left, Console& console, JsonSummary& summary)
{
    const Phase verify{"verify", false, "; the flash was written and validated but is not verified", &left};
    pd::VerifyResult result;
    RunPhase(verify, range, options.range.port, common, console, [&](const pd::RunRequest& request) {
        result = pd::VerifyFlash(session, request, image);
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
            .Advise(MismatchAdvice(left, options.imagePath));
    }
    const int port = options.range.port;
    console.Note("verified: " + BlocksText(range, port) + " match the image, all " + std::to_string(length) +
                 " bytes read back");
    console.SetAchieved("the flash of " + BlocksText(range, port) + " completed and verified");
}

// Another notebook's backup under the same name: its range differs from
// this one's and would be taken for an interrupted flash, whose advice
// flashes on with no backup of this notebook's firmware.
void CheckBackupNotebook(const FlashPlan& plan)
{
    const std::string& serial = plan.existing.serial;
    if (!serial.empty() && !plan.machine.serial.empty() && serial != plan.machine.serial) {
        const std::string free = FreeName(plan.existing.path);
        throw Failure(Fault::File, "backup " + plan.existing.path + " exists (" + FileFacts(plan.existing.path) +
                                    ") and is not replaced; its record " + SidecarPath(plan.existing.path) +
                                    " says it was read from the notebook with serial " + serial +
                                    "; this notebook's serial is " + plan.machine.serial + ": give a new name" +
                                    (free.empty() ? std::string() : " (" + free + ")") + ". Nothing written");
    }
}

// The range written from the image; the blocks it got to go into the
// summary however it ends.
void Write(Session& session, const CommonOptions& common, const Range& range, int port, pd::ImageStore& image,
           PdLeft& left, Console& console, JsonSummary& summary)
{
    left.stage = PdLeft::Stage::Writing;
    std::string afterStop = "; flash again to complete";
    if (!left.backupPath.empty())
        afterStop += ". " + RetryAdvice(left);
    const Phase writing{"flash write", true, afterStop, &left};
    uint32_t written = 0;
    const auto write = [&](const pd::RunRequest& request) {
        const pd::RunResult result = pd::WriteFlash(session, request, image);
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

// What follows the Session of a flash: the backup, the write, the verify.
void FlashOnSession(Session& session, const CommonOptions& common, const FlashOptions& options, const Range& range,
                    pd::ImageStore& image, FlashPlan& plan, PdLeft& left, Console& console, JsonSummary& summary)
{
    const int port = options.range.port;
    if (console.Json()) {
        // A production line keeps what was on both ports before and after.
        RecordVersions(session, {1, 2}, common, false, console, summary, "versionsBefore");
        session.ForceSelection(pd::PdPortOf(port));
    }
    CheckBackupNotebook(plan);
    if (!plan.existing.path.empty())
        KeepBackup(session, common, options, range, image, plan.existing, left, console, summary);
    else if (!options.backupPath.empty())
        BackUp(session, common, options, range, plan, left, console, summary);

    Write(session, common, range, port, image, left, console, summary);

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
        Verify(session, common, options, range, image, left, console, summary);
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
    ExistingBackup& existing = plan.existing;
    if (!options.backupPath.empty())
        PrepareBackup(common, options, range, plan.backupFile, plan.backupRecord, existing, summary);

    // The lock first: a second program is refused before it reads anything.
    OpenBackend backend;
    if (!common.dryRun)
        Open(common, console, summary, backend);
    auto image = std::make_unique<pd::ImageStore>();
    LoadImage(options, imageAt, *image, console, summary);
    if (!common.dryRun)
        plan.machine = MachineOf(backend);
    CheckImageRecord(options, imageAt, *image, common.dryRun ? nullptr : &plan.machine, console, summary);
    if (common.dryRun) {
        DryRunPorts(common, true, options.allowBattery, console, summary,
                    std::string(options.backupPath.empty() ? ""
                                : !existing.path.empty() ? "would compare the range with the existing backup " +
                                                               options.backupPath + " (kept), then "
                                                         : "would back the range up into " + options.backupPath +
                                                               ", then ") +
                        "would flash " + BlocksText(range, options.range.port) +
                        (options.verify ? " and verify them" : ""));
        return ExitOk;
    }

    Ready(backend, true, options.allowBattery, console);
    Session session(*backend.io, pd::PdPortOf(options.range.port));
    PdLeft left;
    left.port = options.range.port;
    left.tool = ToolText(common);
    left.backupImageAt = pd::HexDigits(range.FirstAddress(), 6);
    if (options.range.startText != DefaultStartText || options.range.endText != DefaultEndText)
        left.rangeArgs =
            " --start " + ShellWord(options.range.startText) + " --end " + ShellWord(options.range.endText);
    const int code = Told(console, summary, [&] {
        FlashOnSession(session, common, options, range, *image, plan, left, console, summary);
    });
    // What both ports show now, on every end where the EC still answers.
    if (console.Json() && code != ExitEcBusy) {
        try {
            summary.SetRaw("versionsAfter", ReadVersionsOf(session, {1, 2}, common, false, console));
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
