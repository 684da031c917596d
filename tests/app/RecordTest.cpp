// The window's record: every line, stamped, as it is written, plus what the
// window does not show, in the first folder that can be written; a record
// that fails stops nothing and says so once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FormHarness.h"
#include "hw/ProjectVersion.h"
#include "pd/LogRecord.h"

namespace vyk::app::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> RecordLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(line.back(), '\r');
        lines.push_back(line.substr(0, line.size() - 1));
    }
    return lines;
}

const std::string Beside = "C:\\VYK_UU\\VYK_UU.log";
const std::string Own = "C:\\Users\\tech\\AppData\\Local\\VYK_UU\\VYK_UU.log";
const std::string Stamp = "2026-02-03 21:05:07  ";

TEST(Record, EveryLineAndWhatTheWindowDoesNotShow)
{
    const fs::path image = fs::temp_directory_path() / ("vyk_record_" + std::to_string(::getpid()) + ".bin");
    std::ofstream(image, std::ios::binary) << "abc";
    FormHarness h;
    TForm1& form = h.Start();
    h.tk.Tick(IdTimer1);
    h.tk.AnswerNextDialog(image.string());
    ASSERT_TRUE(h.tk.Click(IdButton1));
    h.tk.Type(IdEdit1, "01FE00");
    ASSERT_TRUE(h.tk.Click(IdButton2));
    h.FlashUntilIdle();
    fs::remove(image);
    EXPECT_EQ(form.Record().Path(), Beside);

    const auto record = RecordLines(h.tk.files[Beside]);
    std::vector<std::string> shown;   // the record without its own lines is the log
    for (const auto& line : record) {
        ASSERT_EQ(line.rfind(Stamp, 0), 0u) << line;
        shown.push_back(line.substr(Stamp.size()));
    }
    const std::string version = ProjectVersion;
    EXPECT_EQ(shown[0], "VYK_UU " + version + " started, port access ready (io.dll)");
    const std::vector<std::string> own = {
        shown[0],
        "Loaded " + image.string() + ": 3 Byte, SHA-256 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
        "Flash Go on port 1, range 0x01FE00 to 0x01FF00; VYK_UU " + version +
            "; notebook maker VYK, model NB-15, serial SN0001"};
    std::vector<std::string> logged;
    for (const auto& line : shown)
        if (std::find(own.begin(), own.end(), line) == own.end())
            logged.push_back(line);
    EXPECT_EQ(logged, h.tk.LogLines());
    EXPECT_EQ(shown.size(), logged.size() + own.size());
    EXPECT_EQ(shown.back(), h.tk.LogLines().back());
}

// Where the record goes, and what a failure does: never stop the flash,
// one line in the log, once.
TEST(Record, FolderFallbackFailureAndTheOldRecord)
{
    struct Case {
        const char* name;
        std::vector<std::string> unwritable;
        int appendsLeft;
        size_t filled;        // bytes in the record beside the program before the start
        std::string path;     // where the record ends up, empty when off
        std::string failure;  // the one line the log gains
    };
    const std::string off = "; from here on this run is not recorded, the log above is all there is";
    const Case cases[] = {
        {"beside the program", {}, -1, 0, Beside, ""},
        {"the folder is read-only", {Beside}, -1, 0, Own, ""},
        {"nowhere", {Beside, Own}, -1, 0, "", "Record: cannot write " + Beside + " nor " + Own + off},
        {"disk full mid-flash", {}, 30, 0, "", "Record: cannot write " + Beside + " any more" + off},
        {"past 10 MiB", {}, -1, pd::RecordLimit - 40, Beside, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FormHarness h;
        h.tk.unwritable = c.unwritable;
        h.tk.appendsLeft = c.appendsLeft;
        const std::string earlier(c.filled, 'x');
        if (c.filled)
            h.tk.files[Beside] = earlier;
        TForm1& form = h.Start();
        h.tk.Tick(IdTimer1);
        ASSERT_TRUE(h.tk.Click(IdButton3));
        h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
        EXPECT_EQ(form.FlashRead().Outcome(), pd::SequenceOutcome::Completed);
        EXPECT_EQ(form.Record().Path(), c.path);
        const auto& log = h.tk.LogLines();
        const auto failures = std::count_if(log.begin(), log.end(), [](const std::string& l) {
            return l.rfind("Record: ", 0) == 0;
        });
        EXPECT_EQ(failures, c.failure.empty() ? 0 : 1);
        if (!c.failure.empty())
            EXPECT_NE(std::find(log.begin(), log.end(), c.failure), log.end());
        if (!c.path.empty())
            EXPECT_EQ(RecordLines(h.tk.files[c.path]).back(), Stamp + log.back());
        if (c.filled) {
            EXPECT_EQ(h.tk.files["C:\\VYK_UU\\VYK_UU.old.log"], earlier);
            EXPECT_LT(h.tk.files[Beside].size(), 100000u);
        }
    }
}

} // namespace
} // namespace vyk::app::test
