#include <gtest/gtest.h>

#include "Fixture.h"

using namespace vyk::pd;

TEST(VersionMonitor, SelectsFirstShowsAfterAndFollowsThePort)
{
    vyk::sim::Settings settings;
    settings.version = {{{1, 2, 3, 4, 5, 6, 7, 8}, {0x0A, 0xFF, 0x0A, 0xFF, 0x0A, 0xFF, 0x0A, 0xFF}}};
    Front f{settings};
    const std::string initial = f.view.label;

    f.monitor.Tick();   // first tick: presence and selection only
    EXPECT_EQ(f.sim.EcRamByte(HostActive), 1);
    EXPECT_EQ(f.sim.EcRamByte(PortSelect), 0);
    EXPECT_EQ(f.sim.Commands(), std::vector<uint8_t>{CmdSelectPort1});
    EXPECT_EQ(f.view.label, initial);
    EXPECT_EQ(f.view.refreshes, 1);

    f.monitor.Tick();
    EXPECT_EQ(f.view.label, "PORT1 FW2 VER : 01 02 03 04 05 06 07 08 ");
    EXPECT_EQ(f.view.labelPort, 1);

    f.view.port1 = false;
    f.monitor.Tick();
    EXPECT_EQ(f.sim.EcRamByte(PortSelect), 1);
    EXPECT_EQ(f.sim.Commands().back(), CmdSelectPort2);
    EXPECT_EQ(f.view.labelPort, 1);   // unchanged on a selecting tick
    f.monitor.Tick();
    EXPECT_EQ(f.view.label, "PORT2 FW2 VER : 0A FF 0A FF 0A FF 0A FF ");
    EXPECT_EQ(f.view.labelPort, 2);

    // After a flash the selection is sent again, then the version shows.
    f.SetFields("00C000", "00C100", true);
    f.RunWrite();
    const size_t before = f.sim.Commands().size();
    f.monitor.Tick();
    EXPECT_EQ(f.sim.Commands().size(), before + 1);
    EXPECT_EQ(f.sim.Commands().back(), CmdSelectPort2);
    f.view.label.clear();
    f.monitor.Tick();
    EXPECT_EQ(f.view.label, "PORT2 FW2 VER : 0A FF 0A FF 0A FF 0A FF ");
    EXPECT_EQ(f.sim.Commands().size(), before + 1);
    EXPECT_EQ(f.sim.Violations(), std::vector<std::string>{});
}
