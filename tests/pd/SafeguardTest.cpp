// What keeps a technician's mistake or a failing EC from costing a PD: a
// misread address field, a flash nobody checked, a backup restored to the
// wrong place, and an end that strands the PD without a word.
#include <atomic>
#include <gtest/gtest.h>

#include "Fixture.h"
#include "pd/AddressField.h"
#include "pd/FlashVerify.h"

using namespace vyk::pd;
using Bytes = std::vector<uint8_t>;

namespace {

struct Safeguards : ::testing::Test {
    Front f;
    std::unique_ptr<ImageStore> readBack = std::make_unique<ImageStore>();
    VerifySequence verify{f.mailbox, *readBack, *f.image, f.selection, f.view, Front::busyBound};

    void Load(const Bytes& bytes)
    {
        ASSERT_TRUE(LoadImageFile(*f.image, WriteFile("image.bin", bytes), f.view.Sink()));
        f.view.log.clear();
    }
    int RunVerify(uint32_t start = 0xC000, uint32_t end = 0x1FF00)
    {
        verify.StartOnRange({start, end});
        int ticks = 0;
        for (; ticks < 5000 && verify.Running(); ++ticks)
            verify.Tick();
        return ticks;
    }
};

// Each of the four fields, with the typos that read as another address:
// refused at the click with one line, the EC never reached, the controls
// as they were.
TEST_F(Safeguards, AMisreadFieldNeverReachesTheEc)
{
    Load(Pattern(0x20000));
    struct Case { bool write; bool start; const char* text; const char* reads; };
    const Case cases[] = {
        {true, true, "0x00C000", "000000"}, {true, true, "00c000", "000000"}, {true, false, "01ff00", "000001"},
        {true, true, "", "000000"},         {false, true, " 00C000", "000000"}, {false, false, "01FF000", "01FF00"},
        {false, true, "00C0 0", "0000C0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        f.view.log.clear();
        f.SetFields("00C000", "01FF00", c.write);
        using F = FakeView::Field;
        f.view.fields[c.write ? (c.start ? F::FlashStart : F::FlashEnd) : (c.start ? F::ReadStart : F::ReadEnd)] =
            c.text;
        FirmwareSequence& seq = c.write ? static_cast<FirmwareSequence&>(f.write) : f.read;
        EXPECT_FALSE(seq.Start());
        EXPECT_FALSE(seq.Running());
        ASSERT_EQ(f.view.log.size(), 1u);
        const std::string name = std::string(c.write ? "\"Write PD FW\" " : "\"Read PD FW\" ") +
                                 (c.start ? "start" : "end") + " address \"" + c.text + "\"";
        EXPECT_EQ(f.view.log[0].rfind(std::string(c.write ? "Flash Go" : "Read FW") + " refused: " + name, 0), 0u)
            << f.view.log[0];
        EXPECT_NE(f.view.log[0].find(std::string("the window would read it as 0x") + c.reads), std::string::npos);
        EXPECT_NE(f.view.log[0].find("like 00C000; nothing sent, the PD not touched"), std::string::npos);
        EXPECT_TRUE(f.sim.Commands().empty());
        EXPECT_TRUE(f.view.running.empty());
        EXPECT_TRUE(f.view.controls);
    }
    EXPECT_EQ(f.view.log[0], "Read FW refused: \"Read PD FW\" start address \"00C0 0\" is not hexadecimal; the window "
                             "would read it as 0x0000C0; give 1 to 6 uppercase hexadecimal digits, like 00C000; "
                             "nothing sent, the PD not touched");

    // A field changed while the PD walked into flashing mode: the range step
    // refuses it and resets the PD, as it does for a refused range.
    f.SetFields("00C000", "01FF00", true);
    ASSERT_TRUE(f.write.Start());
    while (f.write.FlashState() != static_cast<int>(SequenceState::SetUpRange))
        f.write.Tick();
    f.view.fields[FakeView::Field::FlashStart] = "0x00C000";
    f.view.log.clear();
    while (f.write.Running())
        f.write.Tick();
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::RangeRefused);
    EXPECT_EQ(f.view.log.back(),
              "Flash write: changed meanwhile, \"Write PD FW\" start address \"0x00C000\": leave out the 0x, the address "
              "is always hexadecimal; the window would read it as 0x000000; give 1 to 6 uppercase hexadecimal digits, "
              "like 00C000, range refused: no block sent; PD reset sent to leave flashing mode");
    EXPECT_EQ(f.sim.Commands().back(), CmdResetPd);
    EXPECT_EQ(f.sim.Mode(), vyk::sim::EcMode::Normal);
    EXPECT_EQ(f.Flash(1, 0, 0x40000), Bytes(0x40000, 0xFF));
}

// Every end with CmdInit out and the EC gone quiet names the state the PD
// may be in and the way back, for the run it was.
TEST(SafeguardsStranded, AStrandedEndSaysWhereThePdIs)
{
    enum class Run { Write, Read, Verify };
    struct Case {
        const char* name;
        Run run;
        int stuckAfter;   // blocks the EC completes before it sticks; 0: a stop while it is busy
        PdLeft::Stage stage;
        uint32_t blocksSent;
    };
    const Case cases[] = {
        {"write inside a block", Run::Write, 5, PdLeft::Stage::Writing, 6},   // the sixth in flight
        {"read inside a block", Run::Read, 5, PdLeft::Stage::BeforeWrite, 0},
        {"verify inside a block", Run::Verify, 5, PdLeft::Stage::Written, 0},
        {"a stop after CmdInit", Run::Write, 0, PdLeft::Stage::Writing, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Front f;
        ASSERT_TRUE(LoadImageFile(*f.image, WriteFile("image.bin", Pattern(0x20000)), f.view.Sink()));
        auto readBack = std::make_unique<ImageStore>();
        VerifySequence verify{f.mailbox, *readBack, *f.image, f.selection, f.view, Front::busyBound};
        FirmwareSequence& seq = c.run == Run::Write  ? static_cast<FirmwareSequence&>(f.write)
                                : c.run == Run::Read ? static_cast<FirmwareSequence&>(f.read)
                                                     : verify;
        seq.AdviseWhenStranded(c.stage);
        if (c.run == Run::Verify)
            verify.StartOnRange({0xC000, 0x1FF00});
        else
            ASSERT_TRUE(seq.Start());
        if (c.stuckAfter == 0) {
            while (seq.State() != SequenceState::EnterFlash)
                seq.Tick();
            f.sim.GetSettings().faults.stuckBusy = true;
            seq.StopNow();
        } else {
            f.sim.GetSettings().faults.stuckBusyAfterBlocks = c.stuckAfter;
            for (int i = 0; i < 100 && seq.Running(); ++i)
                seq.Tick();
        }
        EXPECT_EQ(seq.Outcome(), SequenceOutcome::EcStayedBusy);
        PdLeft left;
        left.stage = c.stage;
        left.blocksWritten = c.blocksSent;
        left.blocksTotal = c.run == Run::Write && c.stuckAfter ? 319 : seq.BlocksTotal();
        const std::string advice = WindowBootLoaderAdvice(left);
        EXPECT_EQ(f.view.log.back(), advice);
        // The stop line names the run the technician started: a read-back is no "Read FW".
        if (c.stuckAfter != 0) {
            const char* head = c.run == Run::Write ? "Flash write: block " : c.run == Run::Read ? "Read FW: block "
                                                                                                : "Verify: block ";
            ASSERT_GE(f.view.log.size(), 2u);
            EXPECT_EQ(f.view.log[f.view.log.size() - 2].rfind(head, 0), 0u) << f.view.log[f.view.log.size() - 2];
        }
        EXPECT_NE(advice.find("boot loader"), std::string::npos);
        EXPECT_NE(advice.find("vykuu reset --port 1"), std::string::npos);
        EXPECT_NE(advice.find("\"Flash Go\""), std::string::npos);
    }
}

// The read-back after a flash: a line with the block count when it matches;
// the first differing address, the differing blocks and what to do when the
// EC dropped the writes; never a match for a read-back that stopped short.
TEST_F(Safeguards, AFlashIsReadBackAndCompared)
{
    Load(Pattern(0x20000, 5));
    f.RunWrite();
    // One block per tick: each tick fetches a block and asks for the next.
    EXPECT_LE(RunVerify(), 319 + 20);   // a read takes 2 x 319 and more
    EXPECT_EQ(verify.Outcome(), SequenceOutcome::Completed);
    EXPECT_TRUE(verify.Verified());
    EXPECT_EQ(f.view.log.back(), Stamp + "Verify OK: the flash holds the image, all 319 blocks (blocks 0x00C0 to "
                                         "0x01FE) read back and equal");
    EXPECT_EQ(f.image->ImageLength, 0x20000);   // the image in memory stays the image
    EXPECT_FALSE(f.image->HoldsRead);
    EXPECT_EQ(f.sim.Mode(), vyk::sim::EcMode::Normal);

    // An EC that drops the writes of port 1: only the bytes that differ from
    // what the flash held count, from the first of them.
    f.sim.GetSettings().faults.ignoreWritesPort = 1;
    Load(Pattern(0x20000, 9));
    f.view.log.clear();
    f.RunWrite();
    RunVerify();
    EXPECT_FALSE(verify.Verified());
    const FlashComparison& r = verify.Result();
    EXPECT_EQ(r.differingBlocks, 319u);
    EXPECT_EQ(r.firstAddress, 0xC000u);
    const std::string& line = f.view.log.back();
    EXPECT_EQ(line.rfind(Stamp + "Verify FAILED: 319 of 319 blocks (blocks 0x00C0 to 0x01FE) differ from the image, "
                                 "the first at 0x00C000 (flash 0x", 0), 0u) << line;
    EXPECT_NE(line.find("press \"Flash Go\" again"), std::string::npos);
    EXPECT_NE(line.find("on AC power"), std::string::npos);

    // One block wrong in the middle of the range.
    f.sim.GetSettings().faults.ignoreWritesPort = 0;
    f.RunWrite();
    const auto held = f.sim.Flash(1);
    Bytes flash(held.begin(), held.end());
    flash[0x10080] ^= 0x5A;
    f.sim.WriteFlash(1, 0, flash);
    RunVerify();
    EXPECT_EQ(verify.Result().differingBlocks, 1u);
    EXPECT_EQ(verify.Result().differingBytes, 1u);
    EXPECT_EQ(verify.Result().firstAddress, 0x10080u);

    // Stopped half way: not verified, and no line says it matched.
    f.view.log.clear();
    verify.StartOnRange({0xC000, 0x1FF00});
    while (verify.BlocksDone() < 10)
        verify.Tick();
    verify.StopNow();
    EXPECT_EQ(verify.Outcome(), SequenceOutcome::Stopped);
    EXPECT_FALSE(verify.Verified());
    for (const auto& l : f.view.log)
        EXPECT_EQ(l.find("Verify OK"), std::string::npos) << l;
    EXPECT_EQ(f.view.log.back(), "Verify: stopped on request after 10 of 319 blocks, not verified, no validate sent, "
                                 "PD reset sent");

    // A stop asked for from outside (a close) takes the block in flight and
    // asks for no other: the read-back always has one in flight otherwise.
    std::atomic<bool> stop{false};
    verify.SetStopRequest(&stop);
    verify.StartOnRange({0xC000, 0x1FF00});
    while (verify.BlocksDone() < 10)
        verify.Tick();
    stop = true;
    for (int ticks = 0; verify.Running() && ticks < 3; ++ticks)
        verify.Tick();
    EXPECT_EQ(verify.Outcome(), SequenceOutcome::Stopped);
    EXPECT_EQ(verify.BlocksDone(), 11u);
    verify.SetStopRequest(nullptr);
}

// A read saved by "Save Bin File", loaded and flashed with the same fields,
// puts back exactly what was read, where it was read from; a short image is
// padded only with a line that says so.
TEST_F(Safeguards, ASavedReadRestoresWhereItWasRead)
{
    const Bytes before = Pattern(0x40000, 3);
    f.sim.WriteFlash(1, 0, before);
    f.RunRead();
    ASSERT_EQ(f.read.Outcome(), SequenceOutcome::Completed);
    const auto saved = (ScratchDir() / "backup.bin").string();
    ASSERT_TRUE(SaveImageFile(*f.image, saved, f.view.Sink()));
    Bytes expected(0xC000, 0xFF);
    expected.insert(expected.end(), before.begin() + 0xC000, before.begin() + 0x1FF00);
    EXPECT_EQ(ReadFile(saved), expected);
    EXPECT_EQ(f.view.log.back(), "Save File : " + saved + ", 130816 Byte: 0xFF up to 0x00BFFF, the read of 0x00C000 "
                                 "to 0x01FEFF at its flash addresses");

    Load(Pattern(0x20000, 77));   // another image flashed
    f.RunWrite();
    ASSERT_NE(f.Flash(1, 0, 0x40000), before);
    ASSERT_TRUE(LoadImageFile(*f.image, saved, f.view.Sink()));
    EXPECT_EQ(ImagePaddingLine(*f.image, 0xC000, 0x1FF00), "");
    f.RunWrite();
    EXPECT_EQ(f.Flash(1, 0, 0x40000), before);

    // Where the image ends inside the range, the padding is said.
    struct Case { size_t length; uint32_t start, end; const char* line; };
    const Case cases[] = {
        {81664, 0xC000, 0x1FF00,
         "The image ends at 0x013EFF: 192 blocks of the range padded with 0xFF (blocks 0x013F to 0x01FE)"},
        {0x13F80, 0xC000, 0x1FF00,
         "The image ends at 0x013F7F: 192 blocks of the range padded with 0xFF (blocks 0x013F to 0x01FE)"},
        {0x100, 0xC000, 0xC100, "The image ends at 0x0000FF: 1 blocks of the range padded with 0xFF (block 0x00C0)"},
        {0, 0xC000, 0xC200, "The image is empty: 2 blocks of the range padded with 0xFF (blocks 0x00C0 to 0x00C1)"},
        {0x1FF00, 0xC000, 0x1FF00, ""},
        {0x40000, 0xC000, 0x1FF00, ""},
        {0x100, 0xC000, 0xC000, ""},   // refused by the range step anyway
    };
    for (const Case& c : cases) {
        f.image->ImageLength = static_cast<int32_t>(c.length);
        EXPECT_EQ(ImagePaddingLine(*f.image, c.start, c.end), c.line) << c.length;
    }
}

} // namespace
