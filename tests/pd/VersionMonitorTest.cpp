#include <gtest/gtest.h>

#include "FakeEc.h"
#include "Fixture.h"

using namespace vyk::pd;

TEST(VersionMonitor, SelectsFirstShowsAfterAndFollowsThePort)
{
    FakeEc ec;
    Front<FakeEc> f{ec};
    for (int i = 0; i < 8; ++i) {
        ec.ram[Port1Version + i] = static_cast<uint8_t>(i + 1);
        ec.ram[Port2Version + i] = i % 2 ? 0xFF : 0x0A;
    }
    const std::string initial = f.view.label;

    f.monitor.Timer1Timer();   // first tick: presence and selection only
    EXPECT_EQ(ec.ram[HostActive], 1);
    EXPECT_EQ(ec.ram[PortSelect], 0);
    EXPECT_EQ(ec.commands, std::vector<uint8_t>{CmdSelectPort1});
    EXPECT_EQ(f.view.label, initial);
    EXPECT_EQ(f.view.refreshes, 1);

    f.monitor.Timer1Timer();
    EXPECT_EQ(f.view.label, "PORT1 FW2 VER : 01 02 03 04 05 06 07 08 ");
    EXPECT_EQ(f.view.colour, Port1LabelColour);

    f.view.port1 = false;
    f.monitor.Timer1Timer();
    EXPECT_EQ(ec.ram[PortSelect], 1);
    EXPECT_EQ(ec.commands.back(), CmdSelectPort2);
    EXPECT_EQ(f.view.colour, Port1LabelColour);   // unchanged on a selecting tick
    f.monitor.Timer1Timer();
    EXPECT_EQ(f.view.label, "PORT2 FW2 VER : 0A FF 0A FF 0A FF 0A FF ");
    EXPECT_EQ(f.view.colour, Port2LabelColour);

    // After a flash the selection is sent again, then the version shows.
    f.view.fields[AddressField::FlashEnd] = "00C100";
    f.RunWrite();
    const size_t before = ec.commands.size();
    f.monitor.Timer1Timer();
    EXPECT_EQ(ec.commands.size(), before + 1);
    EXPECT_EQ(ec.commands.back(), CmdSelectPort2);
    f.view.label.clear();
    f.monitor.Timer1Timer();
    EXPECT_EQ(f.view.label, "PORT2 FW2 VER : 0A FF 0A FF 0A FF 0A FF ");
    EXPECT_EQ(ec.commands.size(), before + 1);
}
