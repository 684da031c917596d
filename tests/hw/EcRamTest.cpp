#include <gtest/gtest.h>

#include <vector>

#include "hw/EcRam.h"

namespace {

struct Op {
    bool write;
    uint16_t port;
    uint16_t value;
    bool operator==(const Op&) const = default;
};

// Records every port operation; reads answer with a scripted value.
class RecordingPorts : public vyk::IoPort {
public:
    void OutPortByte(uint16_t port, uint16_t data) override { ops.push_back({true, port, data}); }
    uint16_t InPortByte(uint16_t port) override
    {
        ops.push_back({false, port, 0});
        return answer;
    }
    std::vector<Op> ops;
    uint16_t answer = 0;
};

std::vector<Op> Writes(std::initializer_list<std::pair<uint16_t, uint16_t>> list)
{
    std::vector<Op> out;
    for (auto [p, v] : list)
        out.push_back({true, p, v});
    return out;
}

TEST(EcRam, WriteSendsTwelvePortWritesHighByteFirst)
{
    RecordingPorts ports;
    vyk::EcRam ec(&ports);
    ec.EcRamWrite(0xD213, 0xA6);
    EXPECT_EQ(ports.ops, Writes({{0x4E, 0x2E}, {0x4F, 0x11}, {0x4E, 0x2F}, {0x4F, 0xD2},
                                 {0x4E, 0x2E}, {0x4F, 0x10}, {0x4E, 0x2F}, {0x4F, 0x13},
                                 {0x4E, 0x2E}, {0x4F, 0x12}, {0x4E, 0x2F}, {0x4F, 0xA6}}));
}

TEST(EcRam, ReadSendsElevenWritesThenReadsTheDataPortOnce)
{
    RecordingPorts ports;
    ports.answer = 0x5A;
    vyk::EcRam ec(&ports);
    EXPECT_EQ(ec.EcRamRead(0xD220), 0x5A);
    auto expected = Writes({{0x4E, 0x2E}, {0x4F, 0x11}, {0x4E, 0x2F}, {0x4F, 0xD2},
                            {0x4E, 0x2E}, {0x4F, 0x10}, {0x4E, 0x2F}, {0x4F, 0x20},
                            {0x4E, 0x2E}, {0x4F, 0x12}, {0x4E, 0x2F}});
    expected.push_back({false, 0x4F, 0});
    EXPECT_EQ(ports.ops, expected);
}

TEST(EcRam, NoPortIsTouchedWithoutPortAccess)
{
    vyk::EcRam ec;  // nothing bound: PortReady is false
    EXPECT_FALSE(ec.PortReady());
    ec.EcRamWrite(0x1060, 0x80);
    EXPECT_EQ(ec.EcRamRead(0xD213), 0);
    EXPECT_EQ(ec.SioRead(0x2F), 0);

    RecordingPorts ports;
    vyk::EcRam bound(&ports);
    bound.Bind(nullptr);
    bound.EcRamWrite(0xD212, 1);
    EXPECT_EQ(bound.EcRamRead(0xD212), 0);
    EXPECT_TRUE(ports.ops.empty());
}

TEST(EcRam, AddressAndValueAreMaskedAndOnlyTheLowByteIsRead)
{
    RecordingPorts ports;
    vyk::EcRam ec(&ports);
    ec.EcRamWrite(0x1D213, 0x1A6);
    EXPECT_EQ(ports.ops[3].value, 0xD2);
    EXPECT_EQ(ports.ops[7].value, 0x13);
    EXPECT_EQ(ports.ops[11].value, 0xA6);

    ports.answer = 0x01A5;
    EXPECT_EQ(ec.EcRamRead(0x1060), 0xA5);
    ports.answer = 0xFFFF;
    EXPECT_EQ(ec.EcRamRead(0x1060), 0xFF);
    // SioRead hands back the library's 16-bit value sign-extended.
    EXPECT_EQ(ec.SioRead(0x2F), -1);
}

} // namespace
