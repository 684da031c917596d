#include <gtest/gtest.h>

#include <algorithm>

#include "Fixture.h"
#include "TestFiles.h"
#include "sim/SimNotebook.h"

using namespace vyk::pd;
using vyk::sim::SimNotebook;

namespace {

std::vector<uint8_t> FlashBytes(const SimNotebook& sim, int port, uint32_t from, uint32_t to)
{
    auto f = sim.Flash(port);
    return {f.begin() + from, f.begin() + to};
}

TEST(SimRoundTrip, FlashThenReadBackGivesTheImageAndLeavesTheOtherPortAlone)
{
    SimNotebook sim;
    sim.SetRecording(true);
    Front<SimNotebook> f{sim};
    const auto image = Pattern(0x20000, 42);
    ASSERT_TRUE(LoadImageFile(*f.image, WriteFile("sim-image.bin", image), f.view));
    f.monitor.Timer1Timer();
    f.view.log.clear();

    f.RunWrite();
    EXPECT_EQ(f.view.log, DefaultWriteLog());
    EXPECT_EQ(FlashBytes(sim, 1, 0xC000, 0x1FF00), std::vector<uint8_t>(image.begin() + 0xC000, image.end() - 0x100));
    EXPECT_EQ(FlashBytes(sim, 1, 0x1FF00, 0x20000), std::vector<uint8_t>(0x100, 0xFF));
    EXPECT_EQ(FlashBytes(sim, 2, 0, 0x40000), std::vector<uint8_t>(0x40000, 0xFF));

    f.monitor.Timer1Timer();   // selects port 1 again after the flash
    f.view.log.clear();
    f.RunRead();
    EXPECT_EQ(f.view.log, DefaultReadLog());
    EXPECT_EQ(f.image->ImageLength, 81664);
    const auto path = (ScratchDir() / "sim-read.bin").string();
    ASSERT_TRUE(SaveImageFile(*f.image, path, f.view));
    EXPECT_EQ(ReadFile(path), FlashBytes(sim, 1, 0xC000, 0x1FF00));
    EXPECT_EQ(sim.Violations(), std::vector<std::string>{});

    // Port 2 wanted, pressed before the monitor's next tick: the write
    // selects port 2 itself and port 1 keeps its image.
    const auto port1 = FlashBytes(sim, 1, 0, 0x40000);
    ASSERT_TRUE(LoadImageFile(*f.image, WriteFile("sim-image.bin", image), f.view));
    f.view.port1 = false;
    f.view.fields[AddressField::FlashStart] = "000000";
    f.view.fields[AddressField::FlashEnd] = "000200";
    f.RunWrite();
    EXPECT_EQ(sim.SelectedPort(), 2);
    EXPECT_EQ(FlashBytes(sim, 2, 0, 0x200), std::vector<uint8_t>(image.begin(), image.begin() + 0x200));
    EXPECT_EQ(FlashBytes(sim, 1, 0, 0x40000), port1);
    EXPECT_EQ(sim.Violations(), std::vector<std::string>{});
}

TEST(SimRoundTrip, StuckOrVanishedEcEndsTheSequenceWithoutFurtherCommands)
{
    SimNotebook sim;
    sim.SetRecording(true);
    Front<SimNotebook> f{sim};
    f.write.Button2Click();
    while (f.write.FlashState() != 6)
        f.write.Timer2Timer();
    sim.GetSettings().faults.stuckBusy = true;
    const size_t sent = sim.Commands().size();
    f.write.Timer2Timer();
    EXPECT_EQ(f.write.Outcome(), SequenceOutcome::EcStayedBusy);
    EXPECT_EQ(sim.Commands().size(), sent + 1);   // the first block's command only
    f.write.Timer2Timer();
    EXPECT_EQ(sim.Commands().size(), sent + 1);

    sim.GetSettings().faults.stuckBusy = false;
    sim.GetSettings().faults.noChip = true;
    f.read.Button3Click();
    for (int i = 0; i < 50; ++i)
        f.read.Timer3Timer();
    EXPECT_EQ(f.read.ReadState(), 2);   // polls once per tick, never spins
    sim.GetSettings().faults.noChip = false;
    while (f.read.ReadState() != 7)
        f.read.Timer3Timer();
    sim.GetSettings().faults.noChip = true;
    f.read.Timer3Timer();
    EXPECT_EQ(f.read.Outcome(), SequenceOutcome::EcStayedBusy);
    EXPECT_EQ(f.view.log.back(), "Read FW: block 0x00C0: EC stayed busy for 50 ms, reading stopped; "
                                 "no block read, no validate or reset sent");
    EXPECT_TRUE(f.view.controls);
}

} // namespace
