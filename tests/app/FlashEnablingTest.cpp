// The enabling table through whole sequences on the simulated notebook,
// driven as a user drives the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "FormHarness.h"

namespace vyk::app::test {
namespace {

namespace fs = std::filesystem;

using Changes = std::vector<std::pair<int, bool>>;

Changes SixControls(bool enabled)
{
    Changes c;
    for (int id : {IdButton1, IdButton2, IdButton3, IdButton4, IdRadioButton1, IdRadioButton2})
        c.emplace_back(id, enabled);
    return c;
}

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("vyk_app_test_" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

std::vector<uint8_t> ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(FlashEnabling, LoadFlashReadAndSaveFollowTheTable)
{
    TempDir dir;
    std::vector<uint8_t> bytes(0x20000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    const fs::path imagePath = dir.path / "image.bin";
    std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    FormHarness h;
    TForm1& form = h.Start();
    h.tk.Tick(IdTimer1);   // first monitor tick selects port 1

    // Loading enables "Flash Go" alone.
    h.tk.ClearRecords();
    h.tk.AnswerNextDialog(imagePath.string());
    ASSERT_TRUE(h.tk.Click(IdButton1));
    EXPECT_EQ(h.tk.EnableChanges(), (Changes{{IdButton2, true}}));
    EXPECT_FALSE(h.tk.Control(IdButton4).enabled);
    ASSERT_GE(h.tk.LogLines().size(), 4u);
    EXPECT_EQ(h.tk.LogLines()[0], " ");
    EXPECT_EQ(h.tk.LogLines()[1], "Load File : " + imagePath.string());
    EXPECT_EQ(h.tk.LogLines().back(), "File Length: 131072 Byte");

    // "Flash Go": the six controls off in order, then Timer2 on.
    h.tk.ClearRecords();
    h.tk.SetTimerEnabled(IdTimer2, false);   // the last sequence's end leaves it off; its start turns it on
    ASSERT_TRUE(h.tk.Click(IdButton2));
    EXPECT_EQ(h.tk.EnableChanges(), SixControls(false));
    EXPECT_TRUE(h.tk.Timer(IdTimer2).enabled);
    EXPECT_EQ(form.FlashWrite().FlashState(), 1);
    EXPECT_FALSE(h.tk.Click(IdButton3));   // no second sequence meanwhile
    for (int id : {IdEdit1, IdEdit2, IdEdit3, IdEdit4})
        EXPECT_TRUE(h.tk.Control(id).enabled);

    const size_t logStart = h.tk.LogLines().size();
    h.tk.ClearRecords();
    // The controls come back once the flash has been read back.
    h.FlashUntilIdle();
    Changes readBack = SixControls(false);
    for (const auto& c : SixControls(true))
        readBack.push_back(c);
    EXPECT_EQ(h.tk.EnableChanges(), readBack);
    EXPECT_FALSE(h.tk.Timer(IdTimer2).enabled);
    EXPECT_FALSE(h.tk.Timer(IdTimer3).enabled);
    EXPECT_EQ(h.tk.LogLines()[logStart], "02/03/26  21:05:07 >> Cypress PD FW Flash Start");
    const auto completed = std::find(h.tk.LogLines().begin(), h.tk.LogLines().end(),
                                     "02/03/26  21:05:07 >> Cypess PD FW Update Completed!");
    ASSERT_NE(completed, h.tk.LogLines().end());
    EXPECT_EQ(*(completed + 1), "02/03/26  21:05:07 >> Cypress PD FW Verify Start");
    EXPECT_EQ(h.tk.LogLines().back(), "02/03/26  21:05:07 >> Verify OK: the flash holds the image, all 319 blocks "
                                      "(blocks 0x00C0 to 0x01FE) read back and equal");
    EXPECT_TRUE(h.notebook.Violations().empty()) << h.notebook.Violations().front();
    auto flash = h.notebook.Flash(1);
    EXPECT_TRUE(std::equal(bytes.begin() + 0xC000, bytes.begin() + 0x1FF00, flash.begin() + 0xC000));

    // "Read FW" of a short range, then "Save Bin File".
    h.tk.Type(IdEdit3, "010000");
    h.tk.Type(IdEdit4, "010400");
    h.tk.ClearRecords();
    ASSERT_TRUE(h.tk.Click(IdButton3));
    EXPECT_EQ(h.tk.EnableChanges(), SixControls(false));
    EXPECT_TRUE(h.tk.Timer(IdTimer3).enabled);
    h.tk.ClearRecords();
    h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
    EXPECT_EQ(h.tk.EnableChanges(), SixControls(true));
    EXPECT_FALSE(h.tk.Timer(IdTimer3).enabled);
    EXPECT_EQ(h.tk.LogLines().back(), "02/03/26  21:05:07 >> Read Cypess PD FW Completed!");

    const fs::path savePath = dir.path / "read.bin";
    h.tk.AnswerNextDialog(savePath.string());
    ASSERT_TRUE(h.tk.Click(IdButton4));
    // At its flash addresses, 0xFF below them.
    std::vector<uint8_t> saved(0x10000, 0xFF);
    saved.insert(saved.end(), bytes.begin() + 0x10000, bytes.begin() + 0x10400);
    EXPECT_EQ(ReadFile(savePath), saved);
}

// After load and flash, a read on an EC that stays busy at its sixth block
// stops after the busy spin's 3 s, keeps nothing of what it read and leaves
// the loaded image, its length, its origin and both buttons as they were:
// "Save Bin File" still saves the loaded image.
TEST(FlashEnabling, AStoppedReadKeepsTheLoadedImage)
{
    TempDir dir;
    std::vector<uint8_t> bytes(0x20000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
    const fs::path imagePath = dir.path / "image.bin";
    std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    FormHarness h;
    h.notebook.GetSettings().faults.stuckBusyAfterBlocks = 319 + 319 + 5;   // the flash, its read-back, 5 more
    TForm1& form = h.Start();
    h.tk.AnswerNextDialog(imagePath.string());
    ASSERT_TRUE(h.tk.Click(IdButton1));
    ASSERT_TRUE(h.tk.Click(IdButton2));
    h.FlashUntilIdle();
    ASSERT_EQ(form.FlashWrite().Outcome(), pd::SequenceOutcome::Completed);
    ASSERT_TRUE(form.Verify().Verified());

    ASSERT_TRUE(h.tk.Click(IdButton3));
    h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
    EXPECT_EQ(form.FlashRead().Outcome(), pd::SequenceOutcome::EcStayedBusy);
    const auto& log = h.tk.LogLines();
    EXPECT_EQ(log[log.size() - 2],
              "Read FW: block 0x00C5: EC stayed busy for 3000 ms, reading stopped, no data kept: blocks 0x00C0 to "
              "0x00C4 read (1280 Byte) and dropped, the image in memory is as before; no validate or reset sent");
    EXPECT_EQ(log.back(), "port 1's PD may be left in its boot loader (flashing mode); nothing was written to it. Keep "
                          "the notebook powered. Once the EC answers again, vykuu reset --port 1 sends it back to its "
                          "firmware, or press \"Flash Go\" with its image.");
    EXPECT_EQ(log[log.size() - 3], "ReadAddr = 0x00C400");
    EXPECT_FALSE(h.tk.Timer(IdTimer3).enabled);
    for (int id : {IdButton1, IdButton2, IdButton3, IdButton4, IdRadioButton1, IdRadioButton2})
        EXPECT_TRUE(h.tk.Control(id).enabled) << id;
    const pd::ImageStore& image = form.Image();
    EXPECT_EQ(image.ImageLength, 0x20000);
    EXPECT_EQ(image.DataStart, 0u);
    EXPECT_FALSE(image.HoldsRead);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.ImageBuffer.begin()));

    const fs::path savePath = dir.path / "saved.bin";
    h.tk.AnswerNextDialog(savePath.string());
    ASSERT_TRUE(h.tk.Click(IdButton4));
    EXPECT_EQ(ReadFile(savePath), bytes);
}

// With an io.dll that does not load, a load still works, but neither
// sequence claims a step it could not make: one line each, naming the
// status, and "Save Bin File" never offers the zeros a read would give.
TEST(FlashEnabling, WithoutPortAccessNeitherSequenceClaimsAnything)
{
    TempDir dir;
    const std::vector<uint8_t> bytes(0x20000, 0x3C);
    const fs::path imagePath = dir.path / "image.bin";
    std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    FormHarness h;
    h.platform.loadFails = true;
    TForm1& form = h.Start();
    ASSERT_EQ(h.tk.Panels()[2], "IO NG2");
    h.tk.AnswerNextDialog(imagePath.string());
    ASSERT_TRUE(h.tk.Click(IdButton1));

    h.tk.ClearRecords();
    const size_t logStart = h.tk.LogLines().size();
    ASSERT_TRUE(h.tk.Click(IdButton2));
    EXPECT_TRUE(h.tk.Tick(IdTimer2));
    EXPECT_FALSE(form.FlashWrite().Running());
    ASSERT_TRUE(h.tk.Click(IdButton3));
    EXPECT_TRUE(h.tk.Tick(IdTimer3));
    EXPECT_FALSE(form.FlashRead().Running());
    EXPECT_EQ(std::vector<std::string>(h.tk.LogLines().begin() + logStart, h.tk.LogLines().end()),
              (std::vector<std::string>{"Flash write: nothing flashed, the port library has no access (IO NG2)",
                                        "Read FW: nothing read, the port library has no access (IO NG2)"}));
    for (int id : {IdButton1, IdButton2, IdButton3, IdRadioButton1, IdRadioButton2})
        EXPECT_TRUE(h.tk.Control(id).enabled) << id;
    EXPECT_FALSE(h.tk.Control(IdButton4).enabled);
    EXPECT_FALSE(h.tk.Timer(IdTimer2).enabled || h.tk.Timer(IdTimer3).enabled);
    EXPECT_EQ(form.Image().ImageLength, 0x20000);
    EXPECT_FALSE(form.Image().HoldsRead);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), form.Image().ImageBuffer.begin()));
    EXPECT_TRUE(h.notebook.PortTraffic().empty());
}

TEST(FlashEnabling, AStoppedSequenceGivesNoNewButtons)
{
    // A read refused before any image exists must not offer "Flash Go"
    // (it would write the empty buffer) or "Save Bin File".
    FormHarness h;
    TForm1& form = h.Start();
    h.tk.Type(IdEdit3, "00C000");
    h.tk.Type(IdEdit4, "00C000");
    ASSERT_TRUE(h.tk.Click(IdButton3));
    h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
    ASSERT_EQ(form.FlashRead().Outcome(), pd::SequenceOutcome::RangeRefused);
    for (int id : {IdButton1, IdButton3, IdRadioButton1, IdRadioButton2})
        EXPECT_TRUE(h.tk.Control(id).enabled) << id;
    EXPECT_FALSE(h.tk.Control(IdButton2).enabled);
    EXPECT_FALSE(h.tk.Control(IdButton4).enabled);

    // After a completed read both are on, and a later refusal keeps them so.
    h.tk.Type(IdEdit4, "00C100");
    ASSERT_TRUE(h.tk.Click(IdButton3));
    h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
    h.tk.Type(IdEdit4, "000000");
    ASSERT_TRUE(h.tk.Click(IdButton3));
    h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
    EXPECT_TRUE(h.tk.Control(IdButton2).enabled);
    EXPECT_TRUE(h.tk.Control(IdButton4).enabled);
}

} // namespace
} // namespace vyk::app::test
