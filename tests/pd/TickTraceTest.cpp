// Both sequences tick by tick on the simulated EC: every EC RAM access and
// every log line of each tick, in the order they happen.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "Fixture.h"

using namespace vyk::pd;
using namespace std::chrono_literals;
using Tick = std::vector<std::string>;
using Trace = std::vector<Tick>;

namespace {

std::string Hex2(unsigned v)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", v & 0xFF);
    return text;
}

// "R D213=00", "W D218=01"; a whole ascending pass over the transfer window
// is one event, "W window " or "R window " and its 256 bytes in hex.
std::string Access(bool write, unsigned address, unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%c %04X=%02X", write ? 'W' : 'R', address, value & 0xFF);
    return text;
}

std::string Window(bool write, const uint8_t* bytes)
{
    std::string text = write ? "W window " : "R window ";
    for (int i = 0; i < DataWindowSize; ++i)
        text += Hex2(bytes[i]);
    return text;
}

// FakeView that interleaves its log lines with the EC accesses the
// simulator records.
class TraceView : public FakeView {
public:
    explicit TraceView(const vyk::sim::SimNotebook& sim) : sim_(sim) {}

    void AddLogLine(std::string_view text) override
    {
        Flush();
        FakeView::AddLogLine(text);
        tick_.push_back("L " + log.back());
    }
    void AddStampedLogLine(std::string_view text) override
    {
        Flush();
        FakeView::AddStampedLogLine(text);
        tick_.push_back("L " + log.back());
    }
    Tick TakeTick()
    {
        Flush();
        return std::exchange(tick_, {});
    }

private:
    void Flush()
    {
        const auto& a = sim_.EcAccesses();
        while (seen_ < a.size()) {
            const bool pass = a[seen_].address == DataWindow && seen_ + DataWindowSize <= a.size();
            bool whole = pass;
            uint8_t bytes[DataWindowSize];
            for (int i = 0; whole && i < DataWindowSize; ++i) {
                const auto& x = a[seen_ + i];
                whole = x.isWrite == a[seen_].isWrite && x.address == DataWindow + i;
                bytes[i] = x.value;
            }
            if (whole) {
                tick_.push_back(Window(a[seen_].isWrite, bytes));
                seen_ += DataWindowSize;
            } else {
                tick_.push_back(Access(a[seen_].isWrite, a[seen_].address, a[seen_].value));
                ++seen_;
            }
        }
    }

    const vyk::sim::SimNotebook& sim_;
    size_t seen_ = 0;
    Tick tick_;
};

vyk::sim::Settings BusyReads(int n)
{
    vyk::sim::Settings s;
    s.busyReads = n;
    return s;
}

struct Traced {
    vyk::sim::SimNotebook sim;
    vyk::EcRam ec{&sim};
    Mailbox mailbox{ec};
    std::unique_ptr<ImageStore> image = std::make_unique<ImageStore>();
    PortSelection selection;
    TraceView view{sim};
    FlashWriteSequence write{mailbox, *image, selection, view, 50ms};
    FlashReadSequence read{mailbox, *image, selection, view, 50ms};

    explicit Traced(int busyReads) : sim(BusyReads(busyReads))
    {
        sim.SetRecording(true);
        // The monitor has selected port 1 already.
        selection.Port1Selected = selection.SelectionSent = true;
        view.fields = {{FakeView::Field::FlashStart, "00FF00"}, {FakeView::Field::FlashEnd, "010100"},
                       {FakeView::Field::ReadStart, "00FF00"}, {FakeView::Field::ReadEnd, "010100"}};
    }

    Trace Run(vyk::pd::FirmwareSequence& seq)
    {
        seq.Start();
        Trace trace;
        while (seq.Running() && trace.size() < 100) {
            seq.Tick();
            trace.push_back(view.TakeTick());
        }
        seq.Tick();   // idle: nothing at all
        EXPECT_EQ(view.TakeTick(), Tick{});
        return trace;
    }
};

const std::string Idle = "R D213=00";
std::string Busy(uint8_t command) { return Access(false, PdCommand, command); }
std::string Issue(uint8_t command) { return Access(true, PdCommand, command); }
std::string Line(const std::string& text) { return "L " + text; }
std::string Stamped(const std::string& text) { return "L " + Stamp + text; }
const std::string Fill = Window(true, std::vector<uint8_t>(DataWindowSize, 0xFF).data());

void ExpectSameTrace(const Trace& got, const Trace& want)
{
    ASSERT_EQ(got.size(), want.size()) << "ticks";
    for (size_t t = 0; t < want.size(); ++t)
        EXPECT_EQ(got[t], want[t]) << "tick " << t + 1;
}

TEST(TickTrace, WriteOfTwoBlocksAcrossTheHighByte)
{
    for (int busyReads : {0, 1}) {
        SCOPED_TRACE(busyReads ? "one busy read per command" : "idle EC");
        Traced f(busyReads);
        const auto image = Pattern(0x20000, 5);
        f.image->ImageBuffer.fill(0xFF);
        std::copy(image.begin(), image.end(), f.image->ImageBuffer.begin());
        const Tick block1{Line("FlashAddr = 0x00FF00"), Window(true, image.data() + 0xFF00), "W D214=00", "W D215=FF",
                          Issue(CmdWriteBlock)};
        const Tick block2{Line("FlashAddr = 0x010000"), Window(true, image.data() + 0x10000), "W D214=01",
                          "W D215=00", Issue(CmdWriteBlock)};
        // State 6 spins before each block inside its one tick.
        Tick blocks{Idle};
        blocks.insert(blocks.end(), block1.begin(), block1.end());
        if (busyReads)
            blocks.push_back(Busy(CmdWriteBlock));
        blocks.push_back(Idle);
        blocks.insert(blocks.end(), block2.begin(), block2.end());

        Trace want{{Stamped("Cypress PD FW Flash Start"), Fill}, {Idle, Issue(CmdInit)}};
        // The tick after a command sees it busy once and does nothing else.
        auto after = [&](uint8_t command, Tick tick) {
            if (busyReads)
                want.push_back({Busy(command)});
            want.push_back(std::move(tick));
        };
        after(CmdInit, {Idle, Issue(CmdJumpBoot)});
        after(CmdJumpBoot, {Idle, Line("Jump To Boot Mode Done."), Issue(CmdEnterFlash)});
        after(CmdEnterFlash, {Idle, Line("Enter Flashing Mode Done."), Line("Flashing..."),
                              Line("Flash Start Addr = 0x00FF00"), Line("Flash End Addr = 0x010100")});
        want.push_back(blocks);
        after(CmdWriteBlock, {Idle});   // state 7: the last block has completed
        want.push_back({Idle, Line("Flash Done."), Issue(CmdValidate)});
        after(CmdValidate, {Idle, Line("Request The New Firmware To Be Validated Done"), Issue(CmdResetPd)});
        want.push_back({Line("Reset PD Register Done"), Stamped("Cypess PD FW Update Completed!")});

        ExpectSameTrace(f.Run(f.write), want);
        EXPECT_EQ(want.size(), busyReads ? 15u : 10u);
        EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
    }
}

TEST(TickTrace, ReadOfTwoBlocksAcrossTheHighByte)
{
    for (int busyReads : {0, 1}) {
        SCOPED_TRACE(busyReads ? "one busy read per command" : "idle EC");
        Traced f(busyReads);
        const auto flash = Pattern(0x40000, 9);
        f.sim.WriteFlash(1, 0, flash);
        auto busy = [&](uint8_t command) { return busyReads ? Tick{Busy(command)} : Tick{}; };
        auto cat = [](Tick a, const Tick& b) {
            a.insert(a.end(), b.begin(), b.end());
            return a;
        };
        Trace want{{Stamped("Read Cypress PD FW Start"), Fill}, {Idle, Issue(CmdInit)}};
        auto after = [&](uint8_t command, Tick tick) {
            if (busyReads)
                want.push_back(busy(command));
            want.push_back(std::move(tick));
        };
        after(CmdInit, {Idle, Issue(CmdJumpBoot)});
        after(CmdJumpBoot, {Idle, Line("Jump To Boot Mode Done."), Issue(CmdEnterFlash)});
        after(CmdEnterFlash, {Idle, Line("Enter Flashing Mode Done."), Line("Reading..."),
                              Line("Read Start Addr = 0x00FF00"), Line("Read End Addr = 0x010100"),
                              Line("ReadCnt = 0x000101")});
        // State 6 requests, state 7 spins inside its tick and fetches.
        want.push_back({Idle, "W D214=00", "W D215=FF", Issue(CmdReadBlock)});
        want.push_back(cat(busy(CmdReadBlock), {Idle, Line("ReadAddr = 0x00FF00"), Window(false, flash.data() + 0xFF00)}));
        want.push_back({Idle, "W D214=01", "W D215=00", Issue(CmdReadBlock)});
        want.push_back(cat(busy(CmdReadBlock), {Idle, Line("ReadAddr = 0x010000"), Window(false, flash.data() + 0x10000)}));
        want.push_back({Idle, Line("Read Done."), Issue(CmdValidate)});
        after(CmdValidate, {Idle, Line("Request The New Firmware To Be Validated Done"), Issue(CmdResetPd)});
        want.push_back({Line("Reset PD Register Done"), Stamped("Read Cypess PD FW Completed!")});

        ExpectSameTrace(f.Run(f.read), want);
        EXPECT_EQ(want.size(), busyReads ? 16u : 12u);   // 8 + 2n, and one per busy test read busy
        EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
    }
}

// A selection still to be sent goes out at state 2 once the EC is idle,
// after the start line and the window fill; CmdInit follows on the next
// tick, once the EC has finished it.
TEST(TickTrace, SelectionGoesOutInStateTwo)
{
    Traced f(0);
    f.selection.SelectionSent = false;   // nothing selected yet
    f.view.port1 = false;
    const Trace trace = f.Run(f.read);
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace[0], (Tick{Stamped("Read Cypress PD FW Start"), Fill}));
    EXPECT_EQ(trace[1], (Tick{Idle, "W D218=01", Issue(CmdSelectPort2)}));
    EXPECT_EQ(trace[2], (Tick{Idle, Issue(CmdInit)}));
    EXPECT_EQ(trace.size(), 13u);
    EXPECT_EQ(f.sim.SelectedPort(), 2);
}

// A slow EC: the selection keeps it busy for a while, and nothing else of the
// sequence reaches it until it has finished.
TEST(TickTrace, SlowEcFinishesTheSelectionBeforeCmdInit)
{
    for (bool write : {true, false}) {
        SCOPED_TRACE(write ? "write" : "read");
        Traced f(0);
        f.sim.GetSettings().busyMicros = 30000;
        f.selection.SelectionSent = false;
        write ? f.write.Start() : f.read.Start();
        auto tick = [&] {
            write ? f.write.Tick() : f.read.Tick();
            return f.view.TakeTick();
        };
        EXPECT_EQ(tick(), (Tick{Stamped(write ? "Cypress PD FW Flash Start" : "Read Cypress PD FW Start"), Fill}));
        EXPECT_EQ(tick(), (Tick{Idle, "W D218=00", Issue(CmdSelectPort1)}));
        int waited = 0;
        for (Tick t = tick(); t != Tick{Idle, Issue(CmdInit)}; t = tick()) {
            ASSERT_EQ(t, Tick{Busy(CmdSelectPort1)}) << "after " << waited << " waiting ticks";
            ASSERT_LT(++waited, 10000);
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_GT(waited, 0);
        EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
    }
}

// Without port access every write would be dropped and every read give 0:
// each sequence says in its first tick that it did nothing, and leaves the
// image and the controls as they were.
TEST(TickTrace, WithoutPortAccessNothingIsClaimed)
{
    Front f;
    f.ec.Bind(nullptr);
    f.image->ImageBuffer.fill(0x5A);
    f.image->ImageLength = 0x1234;
    EXPECT_EQ(f.RunWrite(), 1);
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::NoPortAccess);
    EXPECT_EQ(f.RunRead(), 1);
    EXPECT_EQ(f.read.Outcome(), SequenceOutcome::NoPortAccess);
    EXPECT_EQ(f.view.log, (std::vector<std::string>{"Flash write: nothing flashed, the port library has no access (IO NG3)",
                                                    "Read FW: nothing read, the port library has no access (IO NG3)"}));
    EXPECT_EQ(f.image->ImageLength, 0x1234);
    EXPECT_FALSE(f.image->HoldsRead);
    EXPECT_EQ(f.Image(0, 0x40002), std::vector<uint8_t>(0x40002, 0x5A));
    EXPECT_TRUE(f.view.controls);
    EXPECT_FALSE(f.view.flashGo || f.view.save);
    EXPECT_EQ(f.view.running, (std::vector<std::string>{"write on", "write off", "read on", "read off"}));
    EXPECT_TRUE(f.sim.PortTraffic().empty());

    // The first tick logs at once whatever the EC does.
    Front busy;
    busy.sim.GetSettings().faults.stuckBusy = true;
    busy.mailbox.IssueCommand(CmdInit);
    busy.write.Start();
    busy.write.Tick();
    EXPECT_EQ(busy.view.log, std::vector<std::string>{Stamp + "Cypress PD FW Flash Start"});
}

} // namespace
