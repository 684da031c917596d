// How the window guards a running sequence: a close or the session's end
// stops it safely first, the session waits for it, and the system is kept
// awake (and its timers fine, for a read) exactly while it runs.
#include <gtest/gtest.h>

#include <functional>

#include "FormHarness.h"

namespace vyk::app::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Calls = std::vector<std::string>;

// Ticks the sequence's timer, the monitor beside it, until `reached`.
void TickUntil(FormHarness& h, int timer, const std::function<bool()>& reached)
{
    for (int i = 0; i < 10000 && !reached(); ++i) {
        if (i % 10 == 0)
            h.tk.Tick(IdTimer1);
        ASSERT_TRUE(h.tk.Tick(timer));
    }
    ASSERT_TRUE(reached()) << "the sequence never got there";
}

Bytes Tail(const Bytes& all, size_t n)
{
    return all.size() < n ? all : Bytes(all.end() - static_cast<std::ptrdiff_t>(n), all.end());
}

// A close, wherever it comes: before the last block a reset and no
// validate; after the flash's block tick the validate and the reset; an EC
// that stays busy ends the wait at its bound. The EC learns last that we go.
TEST(RunningOperation, ACloseStopsTheSequenceSafelyFirst)
{
    struct Case {
        const char* name;
        bool write;
        int stuckAfterBlocks;
        std::function<bool(TForm1&)> reached;
        std::string line;   // the last line of the log
        Bytes tail;         // the last commands
        sim::EcMode mode;
    };
    const Case cases[] = {
        {"write in its command series", true, 0, [](TForm1& f) { return f.FlashWrite().FlashState() == 4; },
         "Flash write: stopped on request before the first block, no validate sent, PD reset sent",
         {pd::CmdJumpBoot, pd::CmdResetPd}, sim::EcMode::Normal},
        {"read between blocks", false, 0,
         [](TForm1& f) { return f.FlashRead().ReadState() == 7 && f.FlashRead().BlocksDone() == 10; },
         "Read FW: stopped on request after 10 of 319 blocks, no data kept, no validate sent, PD reset sent",
         {pd::CmdReadBlock, pd::CmdResetPd}, sim::EcMode::Normal},
        {"write after its block tick", true, 0, [](TForm1& f) { return f.FlashWrite().FlashState() == 7; },
         "Verify: not read back, the window closed; the flash is not verified",
         {pd::CmdWriteBlock, pd::CmdValidate, pd::CmdResetPd},
         sim::EcMode::Normal},
        {"read with a block stuck in flight", false, 10,
         [](TForm1& f) { return f.FlashRead().ReadState() == 7 && f.FlashRead().BlocksDone() == 10; },
         "Read FW: stopped on request after 10 of 319 blocks, no data kept, but the EC stayed busy for 3000 ms: "
         "no validate sent, no reset could be sent",
         {pd::CmdReadBlock, pd::CmdReadBlock}, sim::EcMode::Flashing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FormHarness h;
        h.notebook.GetSettings().faults.stuckBusyAfterBlocks = c.stuckAfterBlocks;
        TForm1& form = h.Start();
        h.tk.Tick(IdTimer1);
        if (c.write)
            form.EnableFlashGo();   // as a load does
        ASSERT_TRUE(h.tk.Click(c.write ? IdButton2 : IdButton3));
        TickUntil(h, c.write ? IdTimer2 : IdTimer3, [&] { return c.reached(form); });
        h.tk.ClearRecords();
        h.tk.Close();
        EXPECT_FALSE(form.FlashWrite().Running() || form.FlashRead().Running());
        // An EC still busy leaves the PD where the last line says.
        const auto& log = h.tk.LogLines();
        EXPECT_EQ(log[log.size() - (c.stuckAfterBlocks ? 2 : 1)], c.line);
        if (c.stuckAfterBlocks)
            EXPECT_NE(log.back().find("may be left in its boot loader"), std::string::npos) << log.back();
        EXPECT_EQ(Tail(h.notebook.Commands(), c.tail.size()), c.tail);
        EXPECT_EQ(h.notebook.Mode(), c.mode);
        const auto writes = h.EcWrites();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back().address, pd::HostActive);
        EXPECT_EQ(writes.back().value, 0);
        EXPECT_EQ(h.tk.SystemCalls(), c.write ? Calls{"awake off"} : (Calls{"1 ms timer off", "awake off"}));
        if (!c.write) {
            EXPECT_EQ(form.Image().ImageLength, 0);
        }
    }
}

// A port that fails once, at the first access after it is armed, before
// that access reaches the notebook; every other access goes through.
struct FailsOnce final : IoPort {
    explicit FailsOnce(IoPort& io) : io(io) {}
    void OutPortByte(uint16_t port, uint16_t data) override
    {
        Check();
        io.OutPortByte(port, data);
    }
    uint16_t InPortByte(uint16_t port) override
    {
        Check();
        return io.InPortByte(port);
    }
    void Check()
    {
        if (armed) {
            armed = false;
            throw PortFailure("the port failed");
        }
    }
    IoPort& io;
    bool armed = false;
};

// A safe stop that fails during a close still lets the EC know we go,
// and the failure is not swallowed: before the last block and after it.
TEST(RunningOperation, ACloseWhoseStopFailsStillTellsTheEcWeGo)
{
    struct Case {
        const char* name;
        bool write;
        std::function<bool(TForm1&)> reached;
    };
    const Case cases[] = {
        {"write in its command series", true, [](TForm1& f) { return f.FlashWrite().FlashState() == 4; }},
        {"read between blocks", false,
         [](TForm1& f) { return f.FlashRead().ReadState() == 7 && f.FlashRead().BlocksDone() == 10; }},
        {"write after its block tick", true, [](TForm1& f) { return f.FlashWrite().FlashState() == 7; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FormHarness h;
        FailsOnce port(h.notebook);
        h.platform.io = &port;
        TForm1& form = h.Start();
        h.tk.Tick(IdTimer1);
        if (c.write)
            form.EnableFlashGo();
        ASSERT_TRUE(h.tk.Click(c.write ? IdButton2 : IdButton3));
        TickUntil(h, c.write ? IdTimer2 : IdTimer3, [&] { return c.reached(form); });
        h.notebook.ClearRecords();
        port.armed = true;
        EXPECT_THROW(h.tk.Close(), PortFailure);
        EXPECT_FALSE(port.armed) << "the stop never reached the port";
        const auto writes = h.EcWrites();
        ASSERT_FALSE(writes.empty()) << "the EC was not told";
        EXPECT_EQ(writes.back().address, pd::HostActive);
        EXPECT_EQ(writes.back().value, 0);
    }
}

// Ghosting is off from the start; the system stays awake from a sequence's
// start to its end, on every way it ends, and a read raises the timer
// resolution for as long. The session may not end while one runs; its
// reason goes with the sequence. A session that ends anyway gets the stop a
// close makes, and the EC is told we go once.
TEST(RunningOperation, TheSystemIsToldWhileASequenceRuns)
{
    FormHarness h;
    TForm1& form = h.Start();
    EXPECT_EQ(h.tk.SystemCalls(), Calls{"ghosting off"});
    EXPECT_TRUE(h.tk.QueryEndSession());
    const std::string reason = std::string("block reason ") + ShutdownBlockReason;

    h.tk.ClearRecords();
    ASSERT_TRUE(h.tk.Click(IdButton3));
    h.tk.Tick(IdTimer3);
    EXPECT_FALSE(h.tk.QueryEndSession());
    EXPECT_FALSE(h.tk.QueryEndSession());
    h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
    ASSERT_EQ(form.FlashRead().Outcome(), pd::SequenceOutcome::Completed);
    EXPECT_EQ(h.tk.SystemCalls(),
              (Calls{"awake on", "1 ms timer on", reason, "1 ms timer off", "awake off", "block reason off"}));
    EXPECT_TRUE(h.tk.QueryEndSession());

    h.tk.ClearRecords();
    ASSERT_TRUE(h.tk.Click(IdButton2));
    h.FlashUntilIdle();
    ASSERT_EQ(form.FlashWrite().Outcome(), pd::SequenceOutcome::Completed);
    // The read-back after the flash holds them as a read does.
    EXPECT_EQ(h.tk.SystemCalls(),
              (Calls{"awake on", "awake off", "awake on", "1 ms timer on", "1 ms timer off", "awake off"}));

    h.tk.ClearRecords();
    h.tk.Type(IdEdit4, "000000");
    ASSERT_TRUE(h.tk.Click(IdButton3));
    h.TickUntilIdle(IdTimer3, [&] { return form.FlashRead().Running(); });
    ASSERT_EQ(form.FlashRead().Outcome(), pd::SequenceOutcome::RangeRefused);
    EXPECT_EQ(h.tk.SystemCalls(), (Calls{"awake on", "1 ms timer on", "1 ms timer off", "awake off"}));

    h.tk.Type(IdEdit4, "01FF00");
    ASSERT_TRUE(h.tk.Click(IdButton3));
    TickUntil(h, IdTimer3, [&] { return form.FlashRead().BlocksDone() == 5; });
    EXPECT_FALSE(h.tk.QueryEndSession());
    h.tk.EndSession(false);   // the session goes on after all
    EXPECT_TRUE(form.FlashRead().Running());
    h.tk.ClearRecords();
    h.notebook.ClearRecords();
    h.tk.EndSession(true);
    EXPECT_FALSE(form.FlashRead().Running());
    EXPECT_EQ(form.FlashRead().Outcome(), pd::SequenceOutcome::Stopped);
    EXPECT_EQ(h.notebook.Commands(), Bytes{pd::CmdResetPd});
    EXPECT_EQ(h.notebook.Mode(), sim::EcMode::Normal);
    EXPECT_EQ(h.tk.SystemCalls(), (Calls{"1 ms timer off", "awake off", "block reason off"}));
    ASSERT_FALSE(h.EcWrites().empty());
    EXPECT_EQ(h.EcWrites().back().address, pd::HostActive);
    h.notebook.ClearRecords();
    h.tk.Close();
    EXPECT_TRUE(h.notebook.EcAccesses().empty());
}

} // namespace
} // namespace vyk::app::test
