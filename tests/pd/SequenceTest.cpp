#include <gtest/gtest.h>

#include <algorithm>

#include "FakeEc.h"
#include "Fixture.h"
#include "TestFiles.h"
#include "pd/AddressField.h"
#include "pd/HexText.h"

using namespace vyk::pd;
using Lines = std::vector<std::string>;

namespace {

struct Sequences : ::testing::Test {
    FakeEc ec;
    Front<FakeEc> f{ec};

    void LoadPattern(size_t n, uint8_t seed = 0)
    {
        ASSERT_TRUE(LoadImageFile(*f.image, WriteFile("image.bin", Pattern(n, seed)), f.view));
        f.view.log.clear();
    }
    bool FlashEquals(int port, uint32_t at, const uint8_t* bytes, size_t n) const
    {
        return std::equal(bytes, bytes + n, ec.flash[port - 1].begin() + at);
    }
    bool Erased(int port, uint32_t from, uint32_t to) const
    {
        return std::all_of(ec.flash[port - 1].begin() + from, ec.flash[port - 1].begin() + to,
                           [](uint8_t b) { return b == 0xFF; });
    }
    size_t Count(uint8_t command) const { return std::count(ec.commands.begin(), ec.commands.end(), command); }
    // Ended, timer off, every control given back.
    void ExpectEnded(SequenceOutcome outcome, SequenceTimer timer)
    {
        EXPECT_EQ(f.write.FlashState(), 0);
        EXPECT_EQ(f.read.ReadState(), 0);
        EXPECT_TRUE(f.view.controls);
        EXPECT_FALSE(f.view.timers[timer]);
        EXPECT_FALSE(f.selection.SequenceRunning);
        EXPECT_EQ(timer == SequenceTimer::Timer2 ? f.write.Outcome() : f.read.Outcome(), outcome);
    }
};

TEST_F(Sequences, DefaultWriteSendsExactly319BlocksOfTheImage)
{
    LoadPattern(0x20000);
    f.write.Timer2Timer();   // idle ticks touch nothing
    EXPECT_TRUE(ec.commands.empty());

    f.RunWrite();
    EXPECT_EQ(f.view.log, DefaultWriteLog());
    ExpectEnded(SequenceOutcome::Completed, SequenceTimer::Timer2);
    EXPECT_EQ(f.write.BlocksDone(), 319u);
    EXPECT_EQ(f.view.scrolls, 1);
    EXPECT_TRUE(FlashEquals(1, 0xC000, &f.image->ImageBuffer[0xC000], 0x1FF00 - 0xC000));
    EXPECT_TRUE(Erased(1, 0, 0xC000));
    EXPECT_TRUE(Erased(1, 0x1FF00, 0x40000));   // the end block is not written
    EXPECT_TRUE(Erased(2, 0, 0x40000));          // port 2 untouched
    // The selection first (the monitor had not run yet), then the series.
    std::vector<uint8_t> series{CmdSelectPort1, CmdInit, CmdJumpBoot, CmdEnterFlash};
    series.insert(series.end(), 319, CmdWriteBlock);
    series.insert(series.end(), {CmdValidate, CmdResetPd});
    EXPECT_EQ(ec.commands, series);
    EXPECT_EQ(ec.commandsWhileBusy, 0);
    EXPECT_FALSE(f.selection.Port1Selected);   // flipped: the monitor selects again
}

TEST_F(Sequences, DefaultReadPacksTheRangeAndSavesItByteExact)
{
    ec.flash[0] = Pattern(0x40000, 3);
    f.RunRead();
    EXPECT_EQ(f.view.log, DefaultReadLog());
    ExpectEnded(SequenceOutcome::Completed, SequenceTimer::Timer3);
    EXPECT_EQ(f.image->ImageLength, 81664);
    EXPECT_EQ(f.image->DataStart, 0xC000u);
    EXPECT_TRUE(FlashEquals(1, 0xC000, f.image->ImageBuffer.data(), 81664));
    EXPECT_TRUE(f.selection.Port1Selected);   // a read leaves the selection alone

    const auto path = (ScratchDir() / "read.bin").string();
    ASSERT_TRUE(SaveImageFile(*f.image, path, f.view));
    EXPECT_EQ(ReadFile(path), std::vector<uint8_t>(ec.flash[0].begin() + 0xC000, ec.flash[0].begin() + 0x1FF00));
}

TEST_F(Sequences, RangeFieldsUseWholeBlocksAndCrossTheHighByte)
{
    LoadPattern(0x40000, 1);
    struct Case { const char* start; const char* end; uint32_t first, endBlock; };
    for (const Case& c : {Case{"00C080", "00C100", 0xC0, 0xC1}, Case{"C000", "C100", 0xC0, 0xC1},
                          Case{"01FE00", "01FFFF", 0x1FE, 0x1FF}, Case{"00FF00", "010200", 0xFF, 0x102}}) {
        ec.flash[0].assign(0x40000, 0xFF);
        f.view.log.clear();
        f.view.fields[AddressField::FlashStart] = c.start;
        f.view.fields[AddressField::FlashEnd] = c.end;
        f.RunWrite();
        Lines blocks(f.view.log.begin() + 6, f.view.log.end() - 4);
        EXPECT_EQ(blocks, BlockLines("FlashAddr = 0x", c.first, c.endBlock)) << c.start;
        EXPECT_EQ(f.view.log[4], "Flash Start Addr = 0x" + HexDigits(ReadAddressField(c.start), 6));
        const uint32_t from = c.first << 8, to = c.endBlock << 8;
        EXPECT_TRUE(FlashEquals(1, from, &f.image->ImageBuffer[from], to - from)) << c.start;
        EXPECT_TRUE(Erased(1, 0, from) && Erased(1, to, 0x40000)) << c.start;
    }

    // Reading across 0x010000 stores the blocks side by side.
    ec.flash[0] = Pattern(0x40000, 7);
    f.view.log.clear();
    f.view.fields[AddressField::ReadStart] = "00FF00";
    f.view.fields[AddressField::ReadEnd] = "010100";
    f.RunRead();
    EXPECT_EQ(f.view.log[6], "ReadCnt = 0x000101");
    EXPECT_EQ(f.image->ImageLength, 512);
    EXPECT_TRUE(FlashEquals(1, 0xFF00, f.image->ImageBuffer.data(), 512));
}

TEST_F(Sequences, RangesOutsideTheBufferAreRefused)
{
    LoadPattern(0x1000);
    const std::string noWrite = ", range refused: no block sent, no validate or reset sent";
    const std::string noRead = ", range refused: no block read, no validate or reset sent";
    struct Case { bool write; const char* start; const char* end; std::string line; };
    const Case cases[] = {
        {true, "01FF00", "00C000", "Flash write: start block 0x01FF is not below end block 0x00C0" + noWrite},
        {true, "00C000", "00c000", "Flash write: start block 0x00C0 is not below end block 0x0000" + noWrite},
        {true, "03FF00", "040100", "Flash write: end block 0x0401 lies past the image buffer's last block 0x03FF" + noWrite},
        {false, "00C000", "00C000", "Read FW: start block 0x00C0 is not below end block 0x00C0" + noRead},
        {false, "000000", "040100", "Read FW: 1025 blocks from 0x0000 exceed the image buffer's 1024" + noRead},
    };
    for (const Case& c : cases) {
        ec.commands.clear();
        f.view.log.clear();
        f.view.fields[c.write ? AddressField::FlashStart : AddressField::ReadStart] = c.start;
        f.view.fields[c.write ? AddressField::FlashEnd : AddressField::ReadEnd] = c.end;
        c.write ? f.RunWrite() : f.RunRead();
        EXPECT_EQ(f.view.log.back(), c.line);
        ExpectEnded(SequenceOutcome::RangeRefused, c.write ? SequenceTimer::Timer2 : SequenceTimer::Timer3);
        EXPECT_EQ(ec.commands.back(), CmdEnterFlash) << c.line;   // nothing after the refusal
    }
    EXPECT_EQ(f.image->ImageLength, 0x1000);   // the refused read left the image alone
    EXPECT_FALSE(f.image->HoldsRead);

    // The last block inside the buffer, and a read of exactly 1,024 blocks, go through.
    f.view.fields[AddressField::FlashStart] = "03FF00";
    f.view.fields[AddressField::FlashEnd] = "040000";
    f.RunWrite();
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::Completed);
    f.view.fields[AddressField::ReadStart] = "000000";
    f.view.fields[AddressField::ReadEnd] = "040000";
    f.RunRead(5000);
    EXPECT_EQ(f.read.Outcome(), SequenceOutcome::Completed);
    EXPECT_EQ(f.image->ImageLength, 0x40000);
}

TEST_F(Sequences, EcStuckBusyInsideATickStopsTheSequence)
{
    LoadPattern(0x20000);
    ec.stickAt = 4 + 5;   // selection, three mode commands, five blocks
    f.RunWrite();
    EXPECT_EQ(f.view.log.back(), "Flash write: block 0x00C5: EC stayed busy for 50 ms, flashing stopped; "
                                 "blocks 0x00C0 to 0x00C4 sent, blocks 0x00C5 to 0x01FE not sent, "
                                 "no validate or reset sent");
    ExpectEnded(SequenceOutcome::EcStayedBusy, SequenceTimer::Timer2);
    EXPECT_EQ(ec.commands.size(), 9u);
    EXPECT_EQ(f.write.BlocksDone(), 5u);

    ec = FakeEc{};
    ec.stickAt = 3 + 3;   // the selection is sent already; the third block read
    f.RunRead();
    EXPECT_EQ(f.view.log.back(), "Read FW: block 0x00C2: EC stayed busy for 50 ms, reading stopped; "
                                 "blocks 0x00C0 to 0x00C1 read (512 Byte), no validate or reset sent");
    ExpectEnded(SequenceOutcome::EcStayedBusy, SequenceTimer::Timer3);
    EXPECT_EQ(ec.commands.size(), 6u);
    EXPECT_EQ(f.image->ImageLength, 512);
}

TEST_F(Sequences, AbsentChipNeverHangsATick)
{
    LoadPattern(0x100);
    ec.absent = true;   // every read 0xFF: always busy
    f.RunWrite(20);
    EXPECT_EQ(f.write.FlashState(), 1);   // waits, tick by tick, for an idle EC to select the port
    EXPECT_TRUE(f.view.log.empty());
    EXPECT_FALSE(f.view.controls);

    // The chip vanishing right before the transfer: the spin gives up.
    ec = FakeEc{};
    Front<FakeEc> g{ec};
    g.write.Button2Click();
    while (g.write.FlashState() != 6)
        g.write.Timer2Timer();
    ec.absent = true;
    g.write.Timer2Timer();
    EXPECT_EQ(g.view.log.back(), "Flash write: block 0x00C0: EC stayed busy for 50 ms, flashing stopped; "
                                 "blocks 0x00C0 to 0x01FE not sent, no validate or reset sent");
    EXPECT_EQ(g.write.Outcome(), SequenceOutcome::EcStayedBusy);
    EXPECT_TRUE(g.view.controls);
}

TEST_F(Sequences, FlashGoAfterAReadSendsTheBytesReadForEachAddress)
{
    ec.flash[0] = Pattern(0x40000, 11);
    f.view.fields[AddressField::ReadStart] = "00C000";
    f.view.fields[AddressField::ReadEnd] = "00C300";
    f.RunRead();

    // Copy those three blocks to port 2, middle block first.
    f.view.port1 = false;
    f.view.fields[AddressField::FlashStart] = "00C100";
    f.view.fields[AddressField::FlashEnd] = "00C300";
    f.RunWrite();
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::Completed);
    EXPECT_TRUE(Erased(2, 0, 0xC100) && Erased(2, 0xC300, 0x40000));
    EXPECT_TRUE(std::equal(ec.flash[0].begin() + 0xC100, ec.flash[0].begin() + 0xC300, ec.flash[1].begin() + 0xC100));

    f.view.fields[AddressField::FlashStart] = "00BF00";
    f.RunWrite();
    EXPECT_EQ(f.view.log.back(), "Flash write: blocks 0x00BF to 0x00C2 not all in the read data "
                                 "(0x00C000 to 0x00C2FF), range refused: no block sent, no validate or reset sent");
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::RangeRefused);
}

TEST_F(Sequences, SelectionIsSentBeforeTheSequenceWithTheEcIdle)
{
    // "Read FW" pressed within the first second, port 2 wanted, EC still busy.
    f.view.port1 = false;
    f.selection.Port1Selected = true;
    ec.busyReads = 3;
    f.mailbox.IssueCommand(CmdValidate);
    f.read.Button3Click();
    f.monitor.Timer1Timer();   // holds its selection back while the read runs
    EXPECT_EQ(Count(CmdSelectPort2), 0u);
    ec.flash[1] = Pattern(0x40000, 2);
    f.RunRead();
    EXPECT_EQ(Count(CmdSelectPort2), 1u);
    EXPECT_EQ(ec.commands[1], CmdSelectPort2);
    EXPECT_EQ(ec.commandsWhileBusy, 0);
    EXPECT_TRUE(FlashEquals(2, 0xC000, f.image->ImageBuffer.data(), 81664));
    EXPECT_EQ(f.view.log, DefaultReadLog());
}

} // namespace
