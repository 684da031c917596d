// The window as a technician drives it: a typo in a field, a flash that is
// read back, a backup saved, another image flashed and the backup restored.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "FormHarness.h"

namespace vyk::app::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Files {
    fs::path dir = fs::temp_directory_path() / ("vyk_app_path_" + std::to_string(::getpid()));
    Files() { fs::create_directories(dir); }
    ~Files() { fs::remove_all(dir); }
    std::string Write(const char* name, const Bytes& bytes) const
    {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return (dir / name).string();
    }
};

Bytes Pattern(size_t n, int seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 11 + (i >> 8) * seed + seed);
    return b;
}

Bytes FlashOf(const FormHarness& h)
{
    const auto f = h.notebook.Flash(1);
    return {f.begin(), f.end()};
}

// Both buttons, each field, the texts that read as another address: one
// line, the EC never reached, the controls as they were.
TEST(TechnicianPath, ATypoNeverReachesTheEc)
{
    Files files;
    FormHarness h;
    TForm1& form = h.Start();
    h.tk.Tick(IdTimer1);
    h.tk.AnswerNextDialog(files.Write("image.bin", Pattern(0x20000, 3)));
    ASSERT_TRUE(h.tk.Click(IdButton1));
    struct Case { int button; int field; const char* text; const char* line; };
    const Case cases[] = {
        {IdButton2, IdEdit1, "0x00C000",
         "Flash Go refused: \"Write PD FW\" start address \"0x00C000\": leave out the 0x, the address is always "
         "hexadecimal; the window would read it as 0x000000; give 1 to 6 uppercase hexadecimal digits, like 00C000; "
         "nothing sent, the PD not touched"},
        {IdButton2, IdEdit2, "01ff00", nullptr},
        {IdButton3, IdEdit3, "00c000", nullptr},
        {IdButton3, IdEdit4, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (int id : {IdEdit1, IdEdit2, IdEdit3, IdEdit4})
            h.tk.Type(id, id == IdEdit1 || id == IdEdit3 ? "00C000" : "01FF00");
        h.tk.Type(c.field, c.text);
        h.notebook.ClearRecords();
        h.tk.ClearRecords();
        const size_t lines = h.tk.LogLines().size();
        ASSERT_TRUE(h.tk.Click(c.button));
        h.tk.Tick(IdTimer2);
        h.tk.Tick(IdTimer3);
        EXPECT_FALSE(form.SequenceBusy());
        ASSERT_EQ(h.tk.LogLines().size(), lines + 1);
        if (c.line)
            EXPECT_EQ(h.tk.LogLines().back(), c.line);
        EXPECT_NE(h.tk.LogLines().back().find(std::string("\"") + c.text + "\""), std::string::npos);
        EXPECT_TRUE(h.notebook.Commands().empty());
        EXPECT_TRUE(h.tk.EnableChanges().empty());
    }
}

// A default read saved, another image flashed, the backup loaded and
// flashed with the same fields: the flash is as it was, every byte, and the
// read-back says so. An EC that drops the writes is caught by the read-back.
TEST(TechnicianPath, ASavedReadRestoresAndEveryFlashIsReadBack)
{
    Files files;
    FormHarness h;
    const Bytes original = Pattern(0x40000, 5);
    h.notebook.WriteFlash(1, 0, original);
    TForm1& form = h.Start();
    h.tk.Tick(IdTimer1);

    ASSERT_TRUE(h.tk.Click(IdButton3));
    h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
    const std::string backup = (files.dir / "backup.bin").string();
    h.tk.AnswerNextDialog(backup);
    ASSERT_TRUE(h.tk.Click(IdButton4));

    // A short image: its padding is said before the PD is touched.
    h.tk.AnswerNextDialog(files.Write("other.bin", Pattern(0x13F00, 9)));
    ASSERT_TRUE(h.tk.Click(IdButton1));
    h.notebook.ClearRecords();
    ASSERT_TRUE(h.tk.Click(IdButton2));
    EXPECT_EQ(h.tk.LogLines().back(),
              "The image ends at 0x013EFF: 192 blocks of the range padded with 0xFF (blocks 0x013F to 0x01FE)");
    EXPECT_TRUE(h.notebook.Commands().empty());
    h.FlashUntilIdle();
    ASSERT_TRUE(form.Verify().Verified());
    ASSERT_NE(FlashOf(h), original);

    h.tk.AnswerNextDialog(backup);
    ASSERT_TRUE(h.tk.Click(IdButton1));
    EXPECT_EQ(h.tk.LogLines().back(), "File Length: 130816 Byte");
    const size_t start = h.tk.LogLines().size();
    ASSERT_TRUE(h.tk.Click(IdButton2));
    EXPECT_EQ(h.tk.LogLines().size(), start);   // no padding to tell
    h.FlashUntilIdle();
    EXPECT_EQ(FlashOf(h), original);
    EXPECT_TRUE(form.Verify().Verified());
    EXPECT_TRUE(h.notebook.Violations().empty());

    // Dropped writes: the read-back names the first differing address and
    // what to do, and the controls come back only then.
    h.notebook.GetSettings().faults.ignoreWritesPort = 1;
    h.tk.AnswerNextDialog(files.Write("new.bin", Pattern(0x20000, 7)));
    ASSERT_TRUE(h.tk.Click(IdButton1));
    ASSERT_TRUE(h.tk.Click(IdButton2));
    for (int i = 0; i < 100 && form.FlashWrite().Running(); ++i)
        h.tk.Tick(IdTimer2);
    EXPECT_TRUE(form.Verify().Running());
    EXPECT_FALSE(h.tk.Control(IdButton2).enabled);
    h.FlashUntilIdle();
    EXPECT_FALSE(form.Verify().Verified());
    const std::string& verdict = h.tk.LogLines().back();
    EXPECT_EQ(verdict.rfind("02/03/26  21:05:07 >> Verify FAILED: ", 0), 0u) << verdict;
    EXPECT_NE(verdict.find(" of 319 blocks (blocks 0x00C0 to 0x01FE) differ from the image, the first at 0x00C000"),
              std::string::npos);
    EXPECT_NE(verdict.find("press \"Flash Go\" again"), std::string::npos);
    for (int id : {IdButton1, IdButton2, IdButton3, IdButton4, IdRadioButton1, IdRadioButton2})
        EXPECT_TRUE(h.tk.Control(id).enabled) << id;
    EXPECT_EQ(FlashOf(h), original);
}

} // namespace
} // namespace vyk::app::test
