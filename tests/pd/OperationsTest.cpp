// The run-to-end operations against the simulated notebook: how each ends
// when the EC stalls or a stop comes at each step, and where that leaves
// the PD.
#include <atomic>
#include <gtest/gtest.h>

#include "Fixture.h"
#include "pd/Operations.h"

using namespace vyk::pd;

namespace {

// What to do to the run when a line starting with `at` is logged.
enum class Act { None, Stall, Stop };

struct OpRun {
    vyk::sim::SimNotebook sim;
    EcConnection link{sim, PdPort::Port1};
    std::atomic<bool> stop{false};
    std::vector<std::string> log;
    RunRequest request;

    OpRun(const char* at, Act act)
    {
        request.range = {0xC000, 0xC400};
        request.busyBound = std::chrono::milliseconds(50);
        request.stop = &stop;
        request.log = [this, at, act](std::string_view line) {
            log.emplace_back(line);
            if (act == Act::None || line.find(at) == std::string_view::npos)
                return;
            if (act == Act::Stall)
                sim.GetSettings().faults.stuckBusy = true;
            else
                stop = true;
        };
    }
};

struct Case {
    const char* name;
    const char* at;   // the line after which it happens
    Act act;
    int stuckAfterBlocks;
    SequenceOutcome outcome;
    bool stalled;
    SequenceState stalledIn;
    PdAfter pd;
    uint32_t blocksDone;
};

void Check(const Case& c, const RunResult& r)
{
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.stalled, c.stalled);
    if (c.stalled) {
        EXPECT_EQ(r.stalledIn, c.stalledIn);
    }
    EXPECT_EQ(r.pd, c.pd);
    EXPECT_EQ(r.blocksDone, c.blocksDone);
    EXPECT_EQ(r.blocksTotal, 4u);
}

using S = SequenceState;
using O = SequenceOutcome;

} // namespace

TEST(Operations, WriteEndsAndSaysWhereThePdIs)
{
    const Case cases[] = {
        {"whole", "", Act::None, 0, O::Completed, false, S::Idle, PdAfter::Running, 4},
        {"stall before CmdInit", "Cypress PD FW Flash Start", Act::Stall, 0, O::Running, true, S::Init,
         PdAfter::NotTouched, 0},
        {"stall in flashing mode", "Jump To Boot Mode Done.", Act::Stall, 0, O::Running, true, S::SetUpRange,
         PdAfter::MayBeInBootLoader, 0},
        {"EC busy at a block", "", Act::None, 2, O::EcStayedBusy, false, S::Idle, PdAfter::MayBeInBootLoader, 3},
        {"stop before CmdInit", "Cypress PD FW Flash Start", Act::Stop, 0, O::Stopped, false, S::Idle,
         PdAfter::NotTouched, 0},
        {"stop between blocks", "FlashAddr = 0x00C100", Act::Stop, 0, O::Stopped, false, S::Idle, PdAfter::Reset,
         2},
        {"stop after the last block", "FlashAddr = 0x00C300", Act::Stop, 0, O::Completed, false, S::Idle,
         PdAfter::Running, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpRun run(c.at, c.act);
        run.sim.GetSettings().faults.stuckBusyAfterBlocks = c.stuckAfterBlocks;
        auto image = std::make_unique<ImageStore>();
        const auto bytes = Pattern(0x10000, 3);
        std::copy(bytes.begin(), bytes.end(), image->ImageBuffer.begin());
        image->ImageLength = 0x10000;
        Check(c, WriteFlash(run.link, run.request, *image));
        if (c.outcome == O::Completed) {
            EXPECT_EQ(run.sim.Flash(1)[0xC3FF], bytes[0xC3FF]);
        }
    }
}

TEST(Operations, ReadEndsAndSaysWhereThePdIs)
{
    const Case cases[] = {
        {"whole", "", Act::None, 0, O::Completed, false, S::Idle, PdAfter::Running, 4},
        {"stall in the command series", "Cypress", Act::Stall, 0, O::Running, true, S::Init, PdAfter::NotTouched, 0},
        {"stall at a block", "ReadAddr = 0x00C000", Act::Stall, 0, O::EcStayedBusy, false, S::Idle,
         PdAfter::MayBeInBootLoader, 1},
        {"stop before CmdInit", "Read Cypress PD FW Start", Act::Stop, 0, O::Stopped, false, S::Idle,
         PdAfter::NotTouched, 0},
        {"stop between blocks", "ReadAddr = 0x00C100", Act::Stop, 0, O::Stopped, false, S::Idle, PdAfter::Reset, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpRun run(c.at, c.act);
        auto store = std::make_unique<ImageStore>();
        Check(c, ReadFlash(run.link, run.request, *store));
        EXPECT_EQ(store->ImageLength, c.outcome == O::Completed ? 0x400 : 0);
    }
}

TEST(Operations, ABusyEcBeforeTheRunTouchesNothing)
{
    OpRun run("", Act::None);
    run.sim.GetSettings().faults.stuckBusy = true;
    run.sim.SetEcRamByte(PdCommand, CmdInit);
    auto store = std::make_unique<ImageStore>();
    const RunResult r = ReadFlash(run.link, run.request, *store);
    EXPECT_TRUE(r.stalled);
    EXPECT_EQ(r.stalledIn, S::FillWindow);
    EXPECT_EQ(r.waitingFor, "the EC to be idle before the window fill");
    EXPECT_EQ(r.pd, PdAfter::NotTouched);
    EXPECT_TRUE(run.log.empty());
}

TEST(Operations, VerifyComparesTheReadBackWithTheImage)
{
    for (const bool corrupt : {false, true}) {
        SCOPED_TRACE(corrupt);
        OpRun run("", Act::None);
        auto image = std::make_unique<ImageStore>();
        image->ImageBuffer.fill(0xFF);   // the erased flash
        run.sim.GetSettings().faults.corruptReads = corrupt;
        run.sim.GetSettings().faults.corruptAddress = 0xC123;
        const VerifyResult r = VerifyFlash(run.link, run.request, *image);
        EXPECT_TRUE(r.run.Completed());
        EXPECT_EQ(r.compared.blocks, 4u);
        EXPECT_EQ(r.compared.Matches(), !corrupt);
        if (corrupt) {
            EXPECT_EQ(r.compared.firstAddress, 0xC123u);
        }
    }
}

TEST(Operations, VersionsAndResetReachThePortAskedFor)
{
    OpRun run("", Act::None);
    run.sim.SetRecording(true);
    const VersionsResult v = ReadVersions(run.link, {PdPort::Port2, PdPort::Port1}, run.request.busyBound);
    ASSERT_TRUE(v.Completed());
    ASSERT_EQ(v.versions.size(), 2u);
    EXPECT_EQ(v.versions[0].port, PdPort::Port2);
    EXPECT_EQ(v.versions[0].bytes[0], 0x20);
    EXPECT_EQ(v.versions[1].bytes[7], 0x17);

    run.sim.ClearRecords();
    EXPECT_EQ(ResetPd(run.link, PdPort::Port2, run.request.busyBound), ResetEnd::Done);
    EXPECT_EQ(run.sim.Commands(), (std::vector<uint8_t>{CmdSelectPort2, CmdResetPd}));

    run.sim.GetSettings().faults.stuckBusy = true;
    run.sim.SetEcRamByte(PdCommand, CmdInit);
    EXPECT_EQ(ResetPd(run.link, PdPort::Port1, run.request.busyBound), ResetEnd::BusyBeforeSelection);
    const VersionsResult busy = ReadVersions(run.link, {PdPort::Port1}, run.request.busyBound);
    EXPECT_TRUE(busy.ecBusy);
    EXPECT_EQ(busy.failedAt, PdPort::Port1);
}
