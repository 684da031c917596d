#include "pd/Backup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "pd/FlashVerify.h"
#include "pd/HexText.h"
#include "pd/ImageRules.h"
#include "platform/OutputFile.h"

namespace vyk::pd {

namespace fs = std::filesystem;

namespace {

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

// Only a plain file is opened: a FIFO put where a record lies would hold
// the run before the EC is reached, with nothing said.
std::FILE* OpenRecord(const std::string& path, const fs::file_status& status)
{
    return fs::is_regular_file(status) ? std::fopen(path.c_str(), "rb") : nullptr;
}

} // namespace

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

std::string FreeNameOffer(const std::string& path)
{
    const std::string free = FreeName(path);
    return free.empty() ? std::string() : " (" + free + ")";
}

std::string ReadExistingBackup(const std::string& name, const FlashRange& range, int port, ExistingBackup& existing)
{
    std::error_code ec;
    const size_t length = size_t{range.Blocks()} * 256;
    const auto size = fs::file_size(name, ec);
    if (ec || size != length)
        return "backup " + name + " exists (" + platform::FileFacts(name) + ") and is not replaced; it is no "
               "backup of the range " + AddressRangeText(range.FirstAddress(), range.EndAddress()) + ", which has " +
               std::to_string(length) + " bytes: give a new name" + FreeNameOffer(name) +
               ", or none to flash without a backup";
    // Its record, when it has one, says whose range it holds: a backup of
    // the other port would be taken for a flash interrupted here.
    const std::string recordPath = SidecarPath(name);
    std::string recordText, why;
    Provenance saved;
    if (std::FILE* record = OpenRecord(recordPath, fs::status(recordPath, ec))) {
        recordText = ReadRecordText(record);
        if (ParseSidecar(recordText, saved, why) &&
            (saved.port != port || saved.start != HexDigits(range.FirstAddress(), 6)))
            return "backup " + name + " exists (" + platform::FileFacts(name) + ") and is not replaced; its record " +
                   recordPath + " says it holds port " + std::to_string(saved.port) + "'s range from 0x" +
                   saved.start + ", not port " + std::to_string(port) + "'s from 0x" +
                   HexDigits(range.FirstAddress(), 6) + ": give a new name" + FreeNameOffer(name);
    }
    if (recordText.size() && why.empty())
        existing.serial = saved.serial;
    existing.bytes.resize(length);
    std::FILE* f = std::fopen(name.c_str(), "rb");
    const bool read = f && std::fread(existing.bytes.data(), 1, length, f) == length;
    if (f)
        std::fclose(f);
    if (!read)
        return "backup " + name + " exists and cannot be read: " + std::strerror(errno);
    existing.path = name;
    return {};
}

std::string BackupNotebookRefusal(const ExistingBackup& existing, const std::string& serial)
{
    if (existing.serial.empty() || serial.empty() || existing.serial == serial)
        return {};
    return "backup " + existing.path + " exists (" + platform::FileFacts(existing.path) +
           ") and is not replaced; its record " + SidecarPath(existing.path) +
           " says it was read from the notebook with serial " + existing.serial + "; this notebook's serial is " +
           serial + ": give a new name" + FreeNameOffer(existing.path) + ". Nothing written";
}

RerunCheck CheckRerun(const uint8_t* now, const ExistingBackup& existing, const uint8_t* image,
                      const FlashRange& range, int port, const std::string& advice)
{
    const size_t length = existing.bytes.size();
    const std::string rangeText = "port " + std::to_string(port) + "'s range " +
                                  AddressRangeText(range.FirstAddress(), range.EndAddress());
    const BackupComparison compared = CompareWithBackup(now, existing.bytes.data(), image, length);
    switch (compared.found) {
    case BackupComparison::Case::MatchesBackup:
        return {true, "backup " + existing.path + " exists and holds what " + rangeText + " holds now (all " +
                          std::to_string(length) + " bytes match): kept as this flash's backup, not written again"};
    case BackupComparison::Case::HoldsImage:
        return {true, rangeText + " holds the image already (an earlier flash of it completed); the backup " +
                          existing.path + " keeps the firmware from before it"};
    default:
        return {false, "backup " + existing.path + ": " + rangeText + " no longer matches the backup (first at 0x" +
                           HexDigits(range.FirstAddress() + static_cast<uint32_t>(compared.firstDiffering), 6) +
                           "), nor the image: a flash was interrupted after the backup was made. Nothing written. " +
                           advice};
    }
}

RecordBeside CheckRecordBeside(const std::string& file, const ImageUse& use)
{
    RecordBeside beside;
    const std::string recordPath = SidecarPath(file);
    std::error_code ec;
    const fs::file_status status = fs::status(recordPath, ec);
    if (!fs::exists(status))
        return beside;
    beside.path = recordPath;
    std::string why;
    if (std::FILE* f = OpenRecord(recordPath, status)) {
        if (!ParseSidecar(ReadRecordText(f), beside.saved, why))
            beside.problems.push_back("its record " + recordPath + " cannot be read: " + why);
    } else {
        const std::string reason = fs::is_regular_file(status)
                                       ? std::string(std::strerror(errno))
                                       : "it is " + std::string(platform::KindOf(status.type()));
        beside.problems.push_back("its record " + recordPath + " cannot be read: " + reason);
    }
    if (beside.problems.empty())
        beside.problems = ImageRecordProblems(beside.saved, recordPath, use);
    return beside;
}

} // namespace vyk::pd
