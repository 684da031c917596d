#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "Fixture.h"
#include "pd/AddressField.h"
#include "pd/HexText.h"

using namespace vyk::pd;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes Erased(size_t n) { return Bytes(n, 0xFF); }

struct Sequences : ::testing::Test {
    Front f;

    void LoadPattern(size_t n, uint8_t seed = 0)
    {
        ASSERT_TRUE(LoadImageFile(*f.image, WriteFile("image.bin", Pattern(n, seed)), f.view.Sink()));
        f.view.log.clear();
    }
    const std::vector<uint8_t>& Commands() const { return f.sim.Commands(); }
    // Ended, timer off, every control given back.
    void ExpectEnded(SequenceOutcome outcome, SequenceKind kind)
    {
        EXPECT_EQ(f.write.FlashState(), 0);
        EXPECT_EQ(f.read.ReadState(), 0);
        EXPECT_TRUE(f.view.controls);
        EXPECT_FALSE(f.view.timers[kind == SequenceKind::Write ? FakeView::Timer::Write : FakeView::Timer::Read]);
        EXPECT_FALSE(f.selection.SequenceRunning);
        EXPECT_EQ(kind == SequenceKind::Write ? f.write.Outcome() : f.read.Outcome(), outcome);
        ASSERT_FALSE(f.view.running.empty());
        EXPECT_EQ(f.view.running.back(), kind == SequenceKind::Write ? "write off" : "read off");
    }
    void TickWriteTo(int state)
    {
        f.write.Start();
        while (f.write.FlashState() != state)
            f.write.Tick();
    }
};

TEST_F(Sequences, DefaultWriteSendsExactly319BlocksOfTheImage)
{
    LoadPattern(0x20000);
    f.write.Tick();   // idle ticks touch nothing
    EXPECT_TRUE(Commands().empty());

    f.RunWrite();
    EXPECT_EQ(f.view.log, DefaultWriteLog());
    ExpectEnded(SequenceOutcome::Completed, SequenceKind::Write);
    EXPECT_EQ(f.write.BlocksDone(), 319u);
    EXPECT_EQ(f.view.scrolls, 1);
    EXPECT_EQ(f.Flash(1, 0xC000, 0x1FF00), f.Image(0xC000, 0x1FF00));
    EXPECT_EQ(f.Flash(1, 0, 0xC000), Erased(0xC000));
    EXPECT_EQ(f.Flash(1, 0x1FF00, 0x40000), Erased(0x20100));   // the end block is not written
    EXPECT_EQ(f.Flash(2, 0, 0x40000), Erased(0x40000));          // port 2 untouched
    // The selection first (the monitor had not run yet), then the series.
    Bytes series{CmdSelectPort1, CmdInit, CmdJumpBoot, CmdEnterFlash};
    series.insert(series.end(), 319, CmdWriteBlock);
    series.insert(series.end(), {CmdValidate, CmdResetPd});
    EXPECT_EQ(Commands(), series);
    EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
    EXPECT_FALSE(f.selection.Port1Selected);   // flipped: the monitor selects again
}

TEST_F(Sequences, DefaultReadPacksTheRangeAndSavesItByteExact)
{
    f.sim.WriteFlash(1, 0, Pattern(0x40000, 3));
    f.RunRead();
    EXPECT_EQ(f.view.log, DefaultReadLog());
    ExpectEnded(SequenceOutcome::Completed, SequenceKind::Read);
    EXPECT_EQ(f.image->ImageLength, 81664);
    EXPECT_EQ(f.image->DataStart, 0xC000u);
    EXPECT_EQ(f.Image(0, 81664), f.Flash(1, 0xC000, 0x1FF00));
    EXPECT_TRUE(f.selection.Port1Selected);   // a read leaves the selection alone

    EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
}

TEST_F(Sequences, RangeFieldsUseWholeBlocksAndCrossTheHighByte)
{
    LoadPattern(0x40000, 1);
    struct Case { const char* start; const char* end; uint32_t first, endBlock; };
    for (const Case& c : {Case{"00C080", "00C100", 0xC0, 0xC1}, Case{"C000", "C100", 0xC0, 0xC1},
                          Case{"01FE00", "01FFFF", 0x1FE, 0x1FF}, Case{"00FF00", "010200", 0xFF, 0x102}}) {
        f.sim.WriteFlash(1, 0, Erased(0x40000));
        f.view.log.clear();
        f.SetFields(c.start, c.end, true);
        f.RunWrite();
        std::vector<std::string> blocks(f.view.log.begin() + 6, f.view.log.end() - 4);
        EXPECT_EQ(blocks, BlockLines("FlashAddr = 0x", c.first, c.endBlock)) << c.start;
        EXPECT_EQ(f.view.log[4], "Flash Start Addr = 0x" + HexDigits(ReadAddressField(c.start), 6));
        const uint32_t from = c.first << 8, to = c.endBlock << 8;
        EXPECT_EQ(f.Flash(1, from, to), f.Image(from, to)) << c.start;
        EXPECT_EQ(f.Flash(1, 0, from), Erased(from));
        EXPECT_EQ(f.Flash(1, to, 0x40000), Erased(0x40000 - to));
    }

    // Reading across 0x010000 stores the blocks side by side.
    f.sim.WriteFlash(1, 0, Pattern(0x40000, 7));
    f.view.log.clear();
    f.SetFields("00FF00", "010100", false);
    f.RunRead();
    EXPECT_EQ(f.view.log[6], "ReadCnt = 0x000101");
    EXPECT_EQ(f.image->ImageLength, 512);
    EXPECT_EQ(f.Image(0, 512), f.Flash(1, 0xFF00, 0x10100));
    EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
}

TEST_F(Sequences, RangesOutsideTheBufferAreRefused)
{
    LoadPattern(0x1000);
    const std::string noWrite = ", range refused: no block sent; PD reset sent to leave flashing mode";
    const std::string noRead = ", range refused: no block read; PD reset sent to leave flashing mode";
    struct Case { bool write; const char* start; const char* end; std::string line; };
    const Case cases[] = {
        {true, "01FF00", "00C000", "Flash write: start block 0x01FF is not below end block 0x00C0" + noWrite},
        {true, "00C000", "000000", "Flash write: start block 0x00C0 is not below end block 0x0000" + noWrite},
        {true, "03FF00", "040100", "Flash write: end block 0x0401 lies past the image buffer's last block 0x03FF" + noWrite},
        {false, "00C000", "00C000", "Read FW: start block 0x00C0 is not below end block 0x00C0" + noRead},
        {false, "000000", "040100", "Read FW: end block 0x0401 lies past the flash's last block 0x03FF" + noRead},
        {false, "03FF00", "040300", "Read FW: end block 0x0403 lies past the flash's last block 0x03FF" + noRead},
    };
    for (const Case& c : cases) {
        f.view.log.clear();
        f.SetFields(c.start, c.end, c.write);
        c.write ? f.RunWrite() : f.RunRead();
        EXPECT_EQ(f.view.log.back(), c.line);
        ExpectEnded(SequenceOutcome::RangeRefused, c.write ? SequenceKind::Write : SequenceKind::Read);
        // Nothing after the refusal but the reset that takes the PD out of flashing mode.
        EXPECT_EQ(Commands().back(), CmdResetPd) << c.line;
        EXPECT_EQ(Commands()[Commands().size() - 2], CmdEnterFlash) << c.line;
        EXPECT_EQ(f.sim.Mode(), vyk::sim::EcMode::Normal) << c.line;
    }
    EXPECT_EQ(f.image->ImageLength, 0x1000);   // the refused reads left the image alone
    EXPECT_FALSE(f.image->HoldsRead);

    // The last block inside the buffer, and a read of exactly 1,024 blocks, go through.
    f.SetFields("03FF00", "040000", true);
    f.RunWrite();
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::Completed);
    f.SetFields("000000", "040000", false);
    f.RunRead();
    EXPECT_EQ(f.read.Outcome(), SequenceOutcome::Completed);
    EXPECT_EQ(f.image->ImageLength, 0x40000);
}

TEST_F(Sequences, EcStuckBusyInsideATickStopsTheSequence)
{
    LoadPattern(0x20000);
    TickWriteTo(6);
    f.sim.GetSettings().faults.stuckBusy = true;
    const size_t sent = Commands().size();
    f.write.Tick();
    EXPECT_EQ(f.view.log.back(), "Flash write: block 0x00C1: EC stayed busy for 50 ms, flashing stopped; "
                                 "block 0x00C0 sent, blocks 0x00C1 to 0x01FE not sent, no validate or reset sent");
    // Without AdviseWhenStranded (vykuu gives its own advice) the line is the last.
    ExpectEnded(SequenceOutcome::EcStayedBusy, SequenceKind::Write);
    f.write.Tick();
    EXPECT_EQ(Commands().size(), sent + 1);   // the first block's command, nothing after

    f.sim.GetSettings().faults.stuckBusy = false;
    f.read.Start();
    while (f.read.BlocksDone() < 2 || f.read.ReadState() != 6)
        f.read.Tick();
    f.read.Tick();   // requests block 0x00C2
    f.sim.GetSettings().faults.stuckBusy = true;
    f.read.Tick();
    EXPECT_EQ(f.view.log.back(), "Read FW: block 0x00C2: EC stayed busy for 50 ms, reading stopped, no data kept: "
                                 "blocks 0x00C0 to 0x00C1 read (512 Byte) and dropped, the image in memory is as "
                                 "before; no validate or reset sent");
    ExpectEnded(SequenceOutcome::EcStayedBusy, SequenceKind::Read);
    EXPECT_EQ(Commands().back(), CmdReadBlock);
    // The loaded image, its length and its origin, as before the read.
    EXPECT_EQ(f.image->ImageLength, 0x20000);
    EXPECT_EQ(f.image->DataStart, 0u);
    EXPECT_FALSE(f.image->HoldsRead);
    EXPECT_EQ(f.Image(0, 0x20000), Pattern(0x20000));
}

// A tick that reads busy changes nothing and names what it waits for (what
// vykuu's stall message says), in every state that tests the EC first.
TEST_F(Sequences, EachBusyStateNamesWhatItWaitsFor)
{
    LoadPattern(0x20000);
    const std::string init = "the EC to be idle before the port selection and CmdInit";
    struct Case {
        bool write;
        std::vector<std::string> waits;
    };
    // Init twice: its first tick sends the port selection.
    const Case cases[] = {
        {true, {init, init, "CmdInit", "CmdJumpBoot", "CmdEnterFlash", "the last CmdWriteBlock", "the last CmdWriteBlock",
                "CmdValidate"}},
        {false, {init, init, "CmdInit", "CmdJumpBoot", "CmdEnterFlash", "CmdEnterFlash", "the previous block",
                 "the EC to be idle before CmdValidate", "CmdValidate"}},
    };
    for (const Case& c : cases) {
        f.SetFields("00C000", "00C200", c.write);
        FirmwareSequence& seq = c.write ? static_cast<FirmwareSequence&>(f.write) : f.read;
        // The states that test the EC inside their tick, not before it.
        const SequenceState spins = c.write ? SequenceState::SendBlock : SequenceState::FinishBlock;
        std::vector<std::string> waits;
        seq.Start();
        while (seq.Running() && waits.size() < 20) {
            const SequenceState state = seq.State();
            if (state != SequenceState::FillWindow && state != SequenceState::Complete && state != spins) {
                ASSERT_TRUE(f.mailbox.WaitIdle(std::chrono::seconds(1)));
                f.sim.SetEcRamByte(PdCommand, 0x55);
                seq.Tick();
                EXPECT_EQ(seq.State(), state);
                waits.push_back(seq.WaitingFor());
                f.sim.SetEcRamByte(PdCommand, 0);
            }
            seq.Tick();
        }
        EXPECT_EQ(seq.Outcome(), SequenceOutcome::Completed);
        EXPECT_EQ(waits, c.waits) << (c.write ? "write" : "read");
    }
}

TEST_F(Sequences, AbsentChipNeverHangsATick)
{
    LoadPattern(0x100);
    f.sim.GetSettings().faults.noChip = true;   // every read 0xFF: always busy
    f.RunWrite(20);
    // The start line at once, then a wait, tick by tick, for an idle EC to
    // take the port selection.
    EXPECT_EQ(f.write.FlashState(), 2);
    EXPECT_EQ(f.view.log, std::vector<std::string>{Stamp + "Cypress PD FW Flash Start"});
    EXPECT_FALSE(f.view.controls);

    // The chip vanishing right before the transfer: the spin gives up.
    f.sim.GetSettings().faults.noChip = false;
    TickWriteTo(6);
    f.sim.GetSettings().faults.noChip = true;
    f.write.Tick();
    EXPECT_EQ(f.view.log.back(), "Flash write: block 0x00C0: EC stayed busy for 50 ms, flashing stopped; "
                                 "blocks 0x00C0 to 0x01FE not sent, no validate or reset sent");
    ExpectEnded(SequenceOutcome::EcStayedBusy, SequenceKind::Write);
}

TEST_F(Sequences, FlashGoAfterAReadSendsTheBytesReadForEachAddress)
{
    f.sim.WriteFlash(1, 0, Pattern(0x40000, 11));
    f.SetFields("00C000", "00C300", false);
    f.RunRead();

    // Copy the upper two of those blocks to port 2.
    f.view.port1 = false;
    f.SetFields("00C100", "00C300", true);
    f.RunWrite();
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::Completed);
    EXPECT_EQ(f.Flash(2, 0xC100, 0xC300), f.Flash(1, 0xC100, 0xC300));
    EXPECT_EQ(f.Flash(2, 0, 0xC100), Erased(0xC100));
    EXPECT_EQ(f.Flash(2, 0xC300, 0x40000), Erased(0x40000 - 0xC300));

    f.SetFields("00BF00", "00C300", true);
    f.RunWrite();
    EXPECT_EQ(f.view.log.back(), "Flash write: blocks 0x00BF to 0x00C2 not all in the read data "
                                 "(0x00C000 to 0x00C2FF), range refused: no block sent; PD reset sent to leave flashing mode");
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::RangeRefused);
    EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
}

TEST_F(Sequences, SelectionIsSentBeforeTheSequenceWithTheEcIdle)
{
    // "Read FW" pressed within the first second, port 2 wanted, EC still busy.
    f.view.port1 = false;
    f.selection.Port1Selected = true;
    f.sim.GetSettings().busyReads = 3;
    f.mailbox.IssueCommand(CmdInit);
    f.read.Start();
    f.monitor.Tick();   // holds its selection back while the read runs
    EXPECT_EQ(Commands(), Bytes{CmdInit});
    f.sim.WriteFlash(2, 0, Pattern(0x40000, 2));
    f.RunRead();
    EXPECT_EQ(Commands()[1], CmdSelectPort2);
    EXPECT_EQ(std::count(Commands().begin(), Commands().end(), CmdSelectPort2), 1);
    EXPECT_EQ(f.Image(0, 81664), f.Flash(2, 0xC000, 0x1FF00));
    EXPECT_EQ(f.view.log, DefaultReadLog());
    // The first tick fills the window whatever the EC is doing; nothing else
    // reaches it while it is busy.
    EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{"mailbox byte 0xCC00 written while PdCommand reads busy (0xA0)"});
}

TEST_F(Sequences, PortTwoBeforeAnySelectionIsSelectedNotAssumed)
{
    // "PORT 2 PD" chosen and "Flash Go" pressed before the monitor's first
    // tick: Port1Selected is still false, yet the EC sits on its own port 1.
    f.view.port1 = false;
    ASSERT_EQ(f.sim.SelectedPort(), 1);
    f.image->ImageBuffer.fill(0x5A);
    f.RunWrite();
    EXPECT_EQ(Commands()[0], CmdSelectPort2);
    EXPECT_EQ(f.Flash(2, 0xC000, 0x1FF00), std::vector<uint8_t>(0x1FF00 - 0xC000, 0x5A));
    EXPECT_EQ(f.Flash(1, 0, 0x40000), std::vector<uint8_t>(0x40000, 0xFF));
    EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
}

TEST_F(Sequences, AStoppedSequenceLeavesFlashGoAsItWas)
{
    // Nothing loaded, "Flash Go" off: a refused read must not turn it on.
    f.SetFields("00C000", "00C000", false);
    f.RunRead();
    EXPECT_EQ(f.read.Outcome(), SequenceOutcome::RangeRefused);
    EXPECT_TRUE(f.view.controls);
    EXPECT_FALSE(f.view.flashGo);
    EXPECT_FALSE(f.view.save);
}

// A stop asked for from outside, at each point it can come: before the
// last block has been handed over, the block in flight completes and only a
// reset follows (nothing at all before CmdInit); after it, the whole
// transfer is validated and the PD reset. Every wait is bounded.
TEST_F(Sequences, AStopRequestEndsSafelyWhereverItComes)
{
    struct Case {
        const char* name;
        bool write;
        const char* at;          // the line whose writing asks for the stop; nullptr: before the click
        bool stickThere;         // the EC stays busy from that line on
        int stuckAfterBlocks;
        SequenceOutcome outcome;
        std::string line;        // the stop's own line
        Bytes tail;              // the last commands sent
        uint32_t blocks;
    };
    const std::string busy = ", but the EC stayed busy for 50 ms: no validate sent, no reset could be sent";
    const std::string whole = ": stop asked for after the last block; the transfer is whole, so the validate and "
                              "the PD reset still go out";
    const Case cases[] = {
        {"write between blocks", true, "FlashAddr = 0x00C400", false, 0, SequenceOutcome::Stopped,
         "Flash write: stopped on request after 5 of 319 blocks, no validate sent, PD reset sent",
         {CmdWriteBlock, CmdWriteBlock, CmdResetPd}, 5},
        {"read between blocks", false, "ReadAddr = 0x00C200", false, 0, SequenceOutcome::Stopped,
         "Read FW: stopped on request after 3 of 319 blocks, no data kept, no validate sent, PD reset sent",
         {CmdReadBlock, CmdReadBlock, CmdResetPd}, 3},
        {"write before CmdInit", true, nullptr, false, 0, SequenceOutcome::Stopped,
         "Flash write: stopped on request before CmdInit, the PD not touched", {}, 0},
        {"write in the command series, EC stuck", true, "Jump To Boot Mode Done.", true, 0,
         SequenceOutcome::EcStayedBusy, "Flash write: stopped on request before the first block" + busy,
         {CmdJumpBoot, CmdEnterFlash}, 0},
        {"write after the last block", true, "FlashAddr = 0x01FE00", false, 0, SequenceOutcome::Completed,
         "Flash write" + whole, {CmdWriteBlock, CmdValidate, CmdResetPd}, 319},
        {"read after the last block", false, "ReadAddr = 0x01FE00", false, 0, SequenceOutcome::Completed,
         "Read FW" + whole, {CmdReadBlock, CmdValidate, CmdResetPd}, 319},
        {"write after the last block, EC stuck", true, "FlashAddr = 0x01FE00", false, 318,
         SequenceOutcome::EcStayedBusy,
         "Flash write: the EC stayed busy for 50 ms after the last block: no validate sent, no reset could be sent",
         {CmdWriteBlock, CmdWriteBlock}, 319},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Front f;
        f.sim.WriteFlash(1, 0, Pattern(0x40000, 5));
        ASSERT_TRUE(LoadImageFile(*f.image, WriteFile("image.bin", Pattern(0x20000)), f.view.Sink()));
        f.sim.GetSettings().faults.stuckBusyAfterBlocks = c.stuckAfterBlocks;
        std::atomic<bool> stop{c.at == nullptr};
        f.write.SetStopRequest(&stop);
        f.read.SetStopRequest(&stop);
        f.view.onLine = [&](const std::string& line) {
            if (c.at && line == c.at) {
                stop = true;
                f.sim.GetSettings().faults.stuckBusy = c.stickThere;
            }
        };
        f.sim.ClearRecords();
        c.write ? f.RunWrite() : f.RunRead();
        const FirmwareSequence& run = c.write ? static_cast<const FirmwareSequence&>(f.write) : f.read;
        EXPECT_EQ(run.Outcome(), c.outcome);
        EXPECT_EQ(run.BlocksDone(), c.blocks);
        const auto line = std::find(f.view.log.begin(), f.view.log.end(), c.line);
        ASSERT_NE(line, f.view.log.end()) << f.view.log.back();
        const Bytes& sent = f.sim.Commands();
        if (c.tail.empty()) {
            EXPECT_TRUE(sent.empty());
        }
        ASSERT_GE(sent.size(), c.tail.size());
        EXPECT_EQ(Bytes(sent.end() - static_cast<std::ptrdiff_t>(c.tail.size()), sent.end()), c.tail);
        EXPECT_EQ(f.view.running.back(), c.write ? "write off" : "read off");
        if (c.outcome == SequenceOutcome::Completed) {
            EXPECT_EQ(*(line + 1), c.write ? "Flash Done." : "Read Done.");
            EXPECT_EQ(f.view.log.back(), Stamp + (c.write ? "Cypess PD FW Update Completed!" : "Read Cypess PD FW Completed!"));
        } else {
            EXPECT_EQ(line + 1, f.view.log.end());
        }
        if (c.outcome != SequenceOutcome::EcStayedBusy) {
            EXPECT_EQ(f.sim.Mode(), vyk::sim::EcMode::Normal);
        }
        if (c.write) {
            // The blocks that completed hold the image, the rest what they held.
            const uint32_t end = 0xC000 + (c.stuckAfterBlocks ? c.stuckAfterBlocks : c.blocks) * 256;
            const Bytes before = Pattern(0x40000, 5);
            EXPECT_EQ(f.Flash(1, 0xC000, end), f.Image(0xC000, end));
            EXPECT_EQ(f.Flash(1, end, 0x40000), Bytes(before.begin() + end, before.end()));
        } else if (c.outcome == SequenceOutcome::Completed) {
            EXPECT_EQ(f.Image(0, 81664), f.Flash(1, 0xC000, 0x1FF00));
        } else {
            EXPECT_EQ(f.image->ImageLength, 0x20000);
            EXPECT_EQ(f.Image(0, 0x20000), Pattern(0x20000));
        }
    }
}

// A stop asked for once the validate has gone out (its line written, the
// EC busy with it) cuts nothing: the reset still follows the validate, and
// the sequence completes; the stop is the only reason it ended early.
// A read asked to stop while the EC holds a block it was asked for takes
// that block first: the stop means "after the block in flight" whenever it
// comes, so the last block in flight leaves a whole read.
TEST_F(Sequences, AReadStopTakesTheBlockInFlight)
{
    for (const uint32_t inFlight : {3u, 319u}) {
        SCOPED_TRACE(inFlight);
        Front f;
        f.sim.WriteFlash(1, 0, Pattern(0x40000, 9));
        std::atomic<bool> stop{false};
        f.read.SetStopRequest(&stop);
        f.read.Start();
        for (int ticks = 0; f.read.Running() && ticks < 5000; ++ticks) {
            if (f.read.State() == vyk::pd::SequenceState::FinishBlock && f.read.BlocksDone() + 1 == inFlight)
                stop = true;
            f.read.Tick();
        }
        ASSERT_TRUE(stop.load());
        EXPECT_EQ(f.read.BlocksDone(), inFlight);
        if (inFlight == 319) {
            EXPECT_EQ(f.read.Outcome(), SequenceOutcome::Completed);
            EXPECT_EQ(f.Image(0, 81664), f.Flash(1, 0xC000, 0x1FF00));
        } else {
            EXPECT_EQ(f.read.Outcome(), SequenceOutcome::Stopped);
            EXPECT_NE(std::find(f.view.log.begin(), f.view.log.end(),
                                "Read FW: stopped on request after 3 of 319 blocks, no data kept, no validate sent, "
                                "PD reset sent"),
                      f.view.log.end());
        }
    }
}

TEST_F(Sequences, AStopAfterTheValidateStillSendsTheReset)
{
    for (const bool write : {true, false}) {
        SCOPED_TRACE(write ? "write" : "read");
        Front f;
        ASSERT_TRUE(LoadImageFile(*f.image, WriteFile("image.bin", Pattern(0x20000)), f.view.Sink()));
        std::atomic<bool> stop{false};
        f.write.SetStopRequest(&stop);
        f.read.SetStopRequest(&stop);
        const std::string validating = write ? "Flash Done." : "Read Done.";
        f.view.onLine = [&](const std::string& line) { stop = stop || line == validating; };
        f.sim.ClearRecords();
        write ? f.RunWrite() : f.RunRead();
        const FirmwareSequence& run = write ? static_cast<const FirmwareSequence&>(f.write) : f.read;
        ASSERT_TRUE(stop.load()) << "the sequence never validated";
        EXPECT_EQ(run.Outcome(), SequenceOutcome::Completed);
        const Bytes& sent = f.sim.Commands();
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(Bytes(sent.end() - 2, sent.end()), (Bytes{CmdValidate, CmdResetPd}));
        EXPECT_EQ(std::count(sent.begin(), sent.end(), CmdResetPd), 1);
        EXPECT_EQ(f.sim.Mode(), vyk::sim::EcMode::Normal);
        EXPECT_EQ(f.view.log.back(), Stamp + (write ? "Cypess PD FW Update Completed!" : "Read Cypess PD FW Completed!"));
    }
}

} // namespace
