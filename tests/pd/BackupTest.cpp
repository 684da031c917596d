#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pd/Backup.h"
#include "pd/ImageRules.h"

using namespace vyk::pd;
namespace fs = std::filesystem;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Backups : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("vyk-backup-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
    // A record as a read of port 1 from 00C000 on notebook S1 saves it.
    std::string Record(int port, const std::string& start, const std::string& serial) const
    {
        return SidecarText({.port = port, .start = start, .end = "00C200", .serial = serial, .bytes = 512,
                            .sha256 = "ab"});
    }

    const FlashRange range_ = ReadFlashRange("00C000", "00C200").range;   // two blocks, 512 bytes
    fs::path dir_;
};

} // namespace

// The free name skips every name taken, links included; the offer says it.
TEST_F(Backups, FreeNameSkipsTakenNames)
{
    EXPECT_EQ(FreeName(Path("b.bin")), Path("b-2.bin"));
    Write("b-2.bin", "x");
    fs::create_symlink(Path("nowhere"), Path("b-3.bin"));
    EXPECT_EQ(FreeName(Path("b.bin")), Path("b-4.bin"));
    EXPECT_EQ(FreeNameOffer(Path("b.bin")), " (" + Path("b-4.bin") + ")");
}

// An existing backup is taken only as the backup of this port's range: its
// length, and its record's port and start when it has a readable record.
TEST_F(Backups, ExistingBackupMustHoldThisRange)
{
    const std::string bytes(512, '\x5A');
    struct Row {
        std::string file, record;   // record empty: none
        const char* refusal;        // nullptr: taken
        std::string serial;
    };
    const Row rows[] = {
        {bytes, "", nullptr, ""},
        {bytes.substr(1), "", "it is no backup of the range 0x00C000..0x00C1FF, which has 512 bytes: give a new name", ""},
        {bytes, Record(1, "00C000", "S1"), nullptr, "S1"},
        {bytes, Record(2, "00C000", "S1"), "says it holds port 2's range from 0x00C000, not port 1's from 0x00C000", ""},
        {bytes, Record(1, "00D000", ""), "range from 0x00D000, not port 1's from 0x00C000", ""},
        {bytes, "{not json", nullptr, ""},   // an unreadable record names no one
    };
    for (const Row& r : rows) {
        const std::string name = Write("b.bin", r.file);
        fs::remove(Path("b.bin.json"));
        if (!r.record.empty())
            Write("b.bin.json", r.record);
        ExistingBackup existing;
        const std::string refusal = ReadExistingBackup(name, range_, 1, existing);
        if (!r.refusal) {
            EXPECT_EQ(refusal, "") << r.record;
            EXPECT_EQ(existing.path, name);
            EXPECT_EQ(existing.bytes, std::vector<uint8_t>(bytes.begin(), bytes.end()));
            EXPECT_EQ(existing.serial, r.serial);
        } else {
            EXPECT_TRUE(Has(refusal, r.refusal)) << refusal;
            EXPECT_TRUE(Has(refusal, "backup " + name + " exists (")) << refusal;
            EXPECT_EQ(existing.path, "");
        }
    }
    // A FIFO where the record lies is not opened: the run is not held.
    Write("b.bin", bytes);
    fs::remove(Path("b.bin.json"));
    ASSERT_EQ(::mkfifo(Path("b.bin.json").c_str(), 0600), 0);
    ExistingBackup existing;
    EXPECT_EQ(ReadExistingBackup(Path("b.bin"), range_, 1, existing), "");
}

// Only two known serials that differ refuse the backup.
TEST_F(Backups, AnotherNotebooksBackupIsRefused)
{
    const std::string name = Write("b.bin", std::string(512, '\0'));
    struct Row { const char* saved; const char* here; bool refused; };
    const Row rows[] = {{"S1", "S1", false}, {"", "S1", false}, {"S1", "", false}, {"S1", "S2", true}};
    for (const Row& r : rows) {
        const ExistingBackup existing{.path = name, .bytes = {}, .serial = r.saved};
        const std::string refusal = BackupNotebookRefusal(existing, r.here);
        EXPECT_EQ(!refusal.empty(), r.refused) << r.saved << " " << r.here;
        if (r.refused)
            EXPECT_TRUE(Has(refusal, "read from the notebook with serial S1; this notebook's serial is S2: give a "
                                     "new name (" + Path("b-2.bin") + "). Nothing written")) << refusal;
    }
}

// The record beside an image: none, one that vouches, one that contradicts,
// one that cannot be read (bad text, or no plain file).
TEST_F(Backups, RecordBesideTheImage)
{
    const std::string image = Write("i.bin", std::string(512, '\x11'));
    const ImageUse use{.sha256 = "ab", .imageAt = 0x00C000, .port = 1, .serial = "S1"};
    EXPECT_EQ(CheckRecordBeside(image, use).path, "");

    struct Row { std::string record; const char* problem; };
    const Row rows[] = {
        {Record(1, "00C000", "S1"), nullptr},
        {Record(2, "00C000", "S1"), "it was read from port 2"},
        {"[]", "cannot be read: it does not begin with {"},
        {"", "cannot be read: it is a folder"},
    };
    for (const Row& r : rows) {
        fs::remove_all(Path("i.bin.json"));
        if (r.record.empty())
            fs::create_directory(Path("i.bin.json"));
        else
            Write("i.bin.json", r.record);
        const RecordBeside beside = CheckRecordBeside(image, use);
        EXPECT_EQ(beside.path, Path("i.bin.json"));
        if (!r.problem) {
            EXPECT_TRUE(beside.problems.empty()) << beside.problems.front();
            EXPECT_EQ(beside.saved.serial, "S1");
        } else {
            ASSERT_EQ(beside.problems.size(), 1u) << r.problem;
            EXPECT_TRUE(Has(beside.problems[0], r.problem)) << beside.problems[0];
        }
    }
}

// A rerun goes on when the range holds the backup or the image, and is
// refused, naming the first differing address and ending with the advice,
// when it holds neither.
TEST_F(Backups, RerunComparesTheRangeWithBackupAndImage)
{
    const ExistingBackup existing{.path = "b.bin", .bytes = std::vector<uint8_t>(512, 0x11), .serial = ""};
    const std::vector<uint8_t> image(512, 0x22);
    std::vector<uint8_t> half = image;
    std::fill(half.begin() + 256, half.end(), 0x11);
    half[0] = 0x33;
    struct Row { const std::vector<uint8_t>& now; bool goesOn; const char* says; };
    const Row rows[] = {
        {existing.bytes, true, "backup b.bin exists and holds what port 2's range 0x00C000..0x00C1FF holds now (all "
                               "512 bytes match)"},
        {image, true, "port 2's range 0x00C000..0x00C1FF holds the image already"},
        {half, false, "backup b.bin: port 2's range 0x00C000..0x00C1FF no longer matches the backup (first at "
                      "0x00C000), nor the image: a flash was interrupted after the backup was made. Nothing written. "
                      "ADVICE"},
    };
    for (const Row& r : rows) {
        const RerunCheck found = CheckRerun(r.now.data(), existing, image.data(), range_, 2, "ADVICE");
        EXPECT_EQ(found.goesOn, r.goesOn) << found.text;
        EXPECT_TRUE(Has(found.text, r.says)) << found.text;
    }
}

// The image file as it lies on disk, each refusal before any byte is
// loaded: missing, no plain file, too large for the buffer, text; a raw
// file that covers the range is taken whole.
TEST_F(Backups, ImageFileIsCheckedOnDisk)
{
    Write("raw.bin", std::string(0xC200, '\xA5'));
    Write("big.bin", std::string(0x40003, '\xA5'));
    Write("text.hex", std::string(":10C00000") + std::string(0xC200, '0'));
    fs::create_directory(Path("folder.bin"));
    struct Row { const char* name; const char* refusal; };
    const Row rows[] = {
        {"raw.bin", nullptr},
        {"none.bin", " does not exist"},
        {"folder.bin", " is a folder"},
        {"big.bin", " holds 262147 bytes; placed at 0x000000 it would end at 0x040003, past the 262146 bytes"},
        {"text.hex", "convert it to a raw image first"},
    };
    for (const Row& r : rows) {
        const std::string path = Path(r.name);
        const ImageFit fit = CheckImageFile({path, 0, 0, false}, range_, false);
        if (!r.refusal) {
            EXPECT_EQ(fit.refusal, "") << r.name;
            EXPECT_EQ(fit.padding, "");
        } else {
            EXPECT_TRUE(Has(fit.refusal, std::string(r.refusal))) << fit.refusal;
            EXPECT_TRUE(Has(fit.refusal, path)) << fit.refusal;
        }
    }
}
