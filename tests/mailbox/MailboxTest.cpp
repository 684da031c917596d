// The mailbox transactions through EcRam and the simulated notebook: the
// exact EC RAM accesses of each transaction, the busy rule, the bounded wait,
// and a whole default flash range written and read back.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "hw/EcRam.h"
#include "pd/Mailbox.h"
#include "sim/SimNotebook.h"

using namespace std::chrono_literals;
using vyk::sim::EcAccess;
using vyk::sim::SimNotebook;
namespace pd = vyk::pd;

namespace {

struct Stack {
    explicit Stack(vyk::sim::Settings s = {}) : sim(s), ec(&sim), mb(ec) {}
    SimNotebook sim;
    vyk::EcRam ec;
    pd::Mailbox mb;

    void Command(uint8_t c)
    {
        ASSERT_TRUE(mb.WaitIdle(1s));
        mb.IssueCommand(c);
    }
    void EnterFlashing()
    {
        Command(pd::CmdInit);
        Command(pd::CmdJumpBoot);
        Command(pd::CmdEnterFlash);
        ASSERT_TRUE(mb.WaitIdle(1s));
    }
};

std::vector<EcAccess> Writes(const std::vector<EcAccess>& all)
{
    std::vector<EcAccess> w;
    for (const EcAccess& a : all)
        if (a.isWrite)
            w.push_back(a);
    return w;
}

void ExpectAccess(const EcAccess& a, bool write, uint16_t address, uint8_t value)
{
    EXPECT_EQ(a.isWrite, write);
    EXPECT_EQ(a.address, address);
    EXPECT_EQ(a.value, value);
}

// Reads back a fixed byte from port 0x4F; all else is ignored.
struct ConstantPort : vyk::IoPort {
    uint16_t value = 0;
    void OutPortByte(uint16_t, uint16_t) override {}
    uint16_t InPortByte(uint16_t) override { return value; }
};

} // namespace

TEST(MailboxOrder, BlockWriteIsWindowThenAddressThenCommandAndNothingElse)
{
    Stack st;
    st.EnterFlashing();
    std::vector<uint8_t> data(256);
    for (int i = 0; i < 256; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    st.sim.SetRecording(true);
    st.mb.WriteBlock(0x00C0, data.data());

    const auto& acc = st.sim.EcAccesses();
    ASSERT_EQ(acc.size(), 259u);
    for (int i = 0; i < 256; ++i)
        ExpectAccess(acc[i], true, 0xCC00 + i, data[i]);
    ExpectAccess(acc[256], true, 0xD214, 0x00);
    ExpectAccess(acc[257], true, 0xD215, 0xC0);
    ExpectAccess(acc[258], true, 0xD213, 0xA3);
    EXPECT_EQ(st.sim.PortTraffic().size(), 259u * 12);
    ASSERT_TRUE(st.mb.WaitIdle(1s));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), st.sim.Flash(1).begin() + 0xC000));
    EXPECT_TRUE(st.sim.Violations().empty());
}

TEST(MailboxOrder, BlockNumberSplitsIntoHighAndMiddleAddressBytes)
{
    Stack st;
    st.EnterFlashing();
    std::vector<uint8_t> data(256, 0x5A);
    st.sim.SetRecording(true);
    st.mb.WriteBlock(0x0100, data.data());
    ASSERT_TRUE(st.mb.WaitIdle(1s));
    st.mb.RequestBlockRead(0x01FE);

    const auto w = Writes(st.sim.EcAccesses());
    ASSERT_EQ(w.size(), 262u);
    ExpectAccess(w[256], true, 0xD214, 0x01);
    ExpectAccess(w[257], true, 0xD215, 0x00);
    ExpectAccess(w[259], true, 0xD214, 0x01);
    ExpectAccess(w[260], true, 0xD215, 0xFE);
    ExpectAccess(w[261], true, 0xD213, 0xA7);
    // Block 0x0100 is flash address 0x010000, not 0x0100 or 0x100000.
    EXPECT_EQ(st.sim.Flash(1)[0x010000], 0x5A);
    EXPECT_EQ(st.sim.Flash(1)[0x00FFFF], 0xFF);
    EXPECT_EQ(st.sim.Flash(1)[0x010100], 0xFF);
}

TEST(MailboxOrder, PortSelectionWritesPortSelectThenCommandAndSwitchesThePort)
{
    Stack st;
    st.sim.SetRecording(true);
    st.mb.SelectPort(vyk::pd::PdPort::Port2);
    ASSERT_EQ(st.sim.EcAccesses().size(), 2u);
    ExpectAccess(st.sim.EcAccesses()[0], true, 0xD218, 1);
    ExpectAccess(st.sim.EcAccesses()[1], true, 0xD213, 0xA8);
    EXPECT_EQ(st.sim.SelectedPort(), 2);

    st.sim.ClearRecords();
    // Selections are never waited for; the next one must still be taken.
    st.mb.SelectPort(vyk::pd::PdPort::Port1);
    ASSERT_EQ(st.sim.EcAccesses().size(), 2u);
    ExpectAccess(st.sim.EcAccesses()[0], true, 0xD218, 0);
    ExpectAccess(st.sim.EcAccesses()[1], true, 0xD213, 0xA6);
    EXPECT_EQ(st.sim.SelectedPort(), 1);
    EXPECT_TRUE(st.sim.Violations().empty());
}

TEST(MailboxOrder, VersionReadAndSimpleWritesTouchOnlyTheirRegisters)
{
    Stack st;
    st.sim.SetRecording(true);
    uint8_t v[8];
    st.mb.ReadVersion(vyk::pd::PdPort::Port2, v);
    st.mb.SetPresence(true);
    st.mb.SetPresence(false);
    st.mb.EcSetup();
    st.mb.FillWindow();
    const auto& acc = st.sim.EcAccesses();
    ASSERT_EQ(acc.size(), 8u + 3 + 256);
    for (int i = 0; i < 8; ++i) {
        ExpectAccess(acc[i], false, 0xD240 + i, 0x20 + i);
        EXPECT_EQ(v[i], 0x20 + i);
    }
    ExpectAccess(acc[8], true, 0xD212, 1);
    ExpectAccess(acc[9], true, 0xD212, 0);
    ExpectAccess(acc[10], true, 0x1060, 0x80);
    for (int i = 0; i < 256; ++i)
        ExpectAccess(acc[11 + i], true, 0xCC00 + i, 0xFF);
}

TEST(MailboxBusy, AnyNonZeroCommandByteIsBusyOnlyZeroIsIdle)
{
    ConstantPort port;
    vyk::EcRam ec(&port);
    pd::Mailbox mb(ec);
    for (uint16_t busy : {0x01, 0x80, 0xFF, 0xA3, 0xFFFF}) {
        port.value = busy;
        EXPECT_TRUE(mb.IsBusy()) << std::hex << busy;
    }
    // Only the low byte of the port counts.
    for (uint16_t idle : {0x0000, 0x0100, 0xFF00}) {
        port.value = idle;
        EXPECT_FALSE(mb.IsBusy()) << std::hex << idle;
    }

    // The same through the simulated EC RAM.
    Stack st;
    for (uint8_t busy : {0x01, 0x80, 0xFF}) {
        st.sim.SetEcRamByte(0xD213, busy);
        EXPECT_TRUE(st.mb.IsBusy());
    }
    st.sim.SetEcRamByte(0xD213, 0);
    EXPECT_FALSE(st.mb.IsBusy());
}

TEST(MailboxBusy, WithoutPortAccessEverythingReadsZeroAndNothingIsTouched)
{
    vyk::EcRam ec;
    pd::Mailbox mb(ec);
    EXPECT_FALSE(mb.IsBusy());
    EXPECT_TRUE(mb.WaitIdle(0s));
    uint8_t block[256];
    std::fill(std::begin(block), std::end(block), 0x77);
    mb.FetchBlock(block);
    for (uint8_t b : block)
        EXPECT_EQ(b, 0);
    uint8_t v[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    mb.ReadVersion(vyk::pd::PdPort::Port1, v);
    for (uint8_t b : v)
        EXPECT_EQ(b, 0);
}

TEST(MailboxBusy, WaitIdleSeesTheCommandThroughItsBusyReads)
{
    vyk::sim::Settings s;
    s.busyReads = 3;
    Stack st(s);
    st.mb.IssueCommand(pd::CmdInit);
    st.sim.SetRecording(true);
    EXPECT_TRUE(st.mb.WaitIdle(1s));
    // Three busy reads, then the one that reads idle.
    const auto& acc = st.sim.EcAccesses();
    ASSERT_EQ(acc.size(), 4u);
    for (int i = 0; i < 3; ++i)
        ExpectAccess(acc[i], false, 0xD213, 0xA0);
    ExpectAccess(acc[3], false, 0xD213, 0x00);
}

TEST(MailboxBusy, WaitIdleGivesUpOnAStuckEc)
{
    vyk::sim::Settings s;
    s.faults.stuckBusy = true;
    Stack st(s);
    EXPECT_TRUE(st.mb.WaitIdle(1s)); // nothing asked yet: idle
    st.mb.IssueCommand(pd::CmdInit);
    EXPECT_FALSE(st.mb.WaitIdle(20ms));
    EXPECT_TRUE(st.mb.IsBusy());
    // A command on top of the busy one is refused and recorded.
    st.mb.IssueCommand(pd::CmdJumpBoot);
    EXPECT_EQ(st.sim.EcRamByte(0xD213), pd::CmdInit);
    ASSERT_EQ(st.sim.Violations().size(), 1u);
    EXPECT_NE(st.sim.Violations()[0].find("CmdJumpBoot"), std::string::npos);
}

// The whole default range (blocks 0x00C0..0x01FE), sent as the flash-write
// sequence sends it and read back as the flash-read sequence reads it.
TEST(MailboxRoundTrip, DefaultRangeWrittenAndReadBackOnPort1Only)
{
    vyk::sim::Settings s;
    s.busyReads = 2;
    Stack st(s);
    std::vector<uint8_t> image(vyk::sim::FlashSize);
    uint32_t x = 12345;
    for (auto& b : image) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>(x >> 16);
    }
    st.mb.SelectPort(vyk::pd::PdPort::Port1);
    st.sim.SetRecording(true);

    st.mb.FillWindow();
    st.EnterFlashing();
    int blocks = 0;
    for (unsigned b = 0x00C0; b != 0x01FF; ++b, ++blocks) {
        ASSERT_TRUE(st.mb.WaitIdle(1s));
        st.mb.WriteBlock(static_cast<uint16_t>(b), &image[b * 256]);
    }
    EXPECT_EQ(blocks, 319);
    st.Command(pd::CmdValidate);
    st.Command(pd::CmdResetPd);

    const auto flash = st.sim.Flash(1);
    EXPECT_TRUE(std::equal(image.begin() + 0xC000, image.begin() + 0x1FF00, flash.begin() + 0xC000));
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 0xC000, [](uint8_t v) { return v == 0xFF; }));
    EXPECT_TRUE(std::all_of(flash.begin() + 0x1FF00, flash.end(), [](uint8_t v) { return v == 0xFF; }));

    std::vector<uint8_t> read(image.size(), 0);
    st.mb.FillWindow();
    st.EnterFlashing();
    for (unsigned b = 0x00C0; b != 0x01FF; ++b) {
        st.mb.RequestBlockRead(static_cast<uint16_t>(b));
        ASSERT_TRUE(st.mb.WaitIdle(1s));
        st.mb.FetchBlock(&read[b * 256]);
    }
    st.Command(pd::CmdValidate);
    st.Command(pd::CmdResetPd);

    EXPECT_TRUE(std::equal(image.begin() + 0xC000, image.begin() + 0x1FF00, read.begin() + 0xC000));
    const auto other = st.sim.Flash(2);
    EXPECT_TRUE(std::all_of(other.begin(), other.end(), [](uint8_t v) { return v == 0xFF; }));
    EXPECT_TRUE(st.sim.Violations().empty()) << st.sim.Violations().front();

    // Window fill, Init, JumpBoot, EnterFlash, 319 blocks, Validate, ResetPd; twice.
    std::vector<uint8_t> expected;
    for (uint8_t block : {pd::CmdWriteBlock, pd::CmdReadBlock}) {
        expected.insert(expected.end(), {pd::CmdInit, pd::CmdJumpBoot, pd::CmdEnterFlash});
        expected.insert(expected.end(), 319, block);
        expected.insert(expected.end(), {pd::CmdValidate, pd::CmdResetPd});
    }
    EXPECT_EQ(st.sim.Commands(), expected);
    EXPECT_EQ(st.sim.Mode(), vyk::sim::EcMode::Normal);
}

TEST(MailboxRoundTrip, CommandsAfterSelectingPort2ReachPort2)
{
    Stack st;
    st.mb.SelectPort(vyk::pd::PdPort::Port2);
    st.EnterFlashing();
    std::vector<uint8_t> data(256, 0x42);
    st.mb.WriteBlock(0x0000, data.data());
    ASSERT_TRUE(st.mb.WaitIdle(1s));
    EXPECT_EQ(st.sim.Flash(2)[0], 0x42);
    EXPECT_EQ(st.sim.Flash(1)[0], 0xFF);
    EXPECT_TRUE(st.sim.Violations().empty());
}
