#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "portlib/EcAccessRecogniser.h"
#include "tests/portlib/EcTraffic.h"
#include "tests/portlib/FakeKernel.h"

using vyk::portlib::EcAccessRecogniser;
using vyk::portlib::EcStep;
using vyk::portlib::EcStepKind;
using vyk::portlib::Refusal;
using vyk::test::EcTraffic;
using vyk::test::FakeKernel;
using vyk::test::PortAccess;

namespace {

const EcStep Held{};
EcStep Write(uint16_t a, uint8_t v) { return {EcStepKind::Write, a, v, Refusal::None}; }
EcStep Read(uint16_t a) { return {EcStepKind::Read, a, 0, Refusal::None}; }
const EcStep OffPath{EcStepKind::Refused, 0, 0, Refusal::OffPath};

EcStep Feed(EcAccessRecogniser& r, const PortAccess& a)
{
    return a.isWrite ? r.Out(a.port, a.value) : r.In(a.port);
}

std::vector<EcStep> FeedAll(EcAccessRecogniser& r, const std::vector<PortAccess>& traffic)
{
    std::vector<EcStep> steps;
    for (const auto& a : traffic)
        steps.push_back(Feed(r, a));
    return steps;
}

// What the library does with the steps: one request per EC access, through
// the driver's decoder.
void Send(FakeKernel& k, const EcStep& s)
{
    uint8_t b[3] = {static_cast<uint8_t>(s.address), static_cast<uint8_t>(s.address >> 8), s.value};
    uint32_t info = 0;
    if (s.kind == EcStepKind::Write) {
        ASSERT_EQ(k.Decode(VYK_IOCTL_EC_WRITE, b, 3, 0, &info), VYK_STATUS_SUCCESS);
    } else if (s.kind == EcStepKind::Read) {
        ASSERT_EQ(k.Decode(VYK_IOCTL_EC_READ, b, 2, 1, &info), VYK_STATUS_SUCCESS);
    }
}

// The traffic examples of EC RAM access: eleven port operations held, the
// twelfth the one request.
TEST(EcAccessRecogniser, TheProgramsTrafficBecomesOneRequestPerEcByte)
{
    struct Case {
        bool isWrite;
        uint16_t address;
        uint8_t value;
        EcStep request;
    } cases[] = {
        {true, 0xD213, 0xA6, Write(0xD213, 0xA6)}, {false, 0xD220, 0, Read(0xD220)},
        {true, 0x1060, 0x80, Write(0x1060, 0x80)}, {true, 0xCC00, 0xFF, Write(0xCC00, 0xFF)},
        {false, 0xCCFF, 0, Read(0xCCFF)},          {false, 0xD212, 0, Read(0xD212)},
        {true, 0xD247, 0x01, Write(0xD247, 0x01)},
    };
    EcAccessRecogniser r;
    for (const Case& c : cases) {
        std::vector<EcStep> want(11, Held);
        want.push_back(c.request);
        EXPECT_EQ(FeedAll(r, EcTraffic(c.isWrite, c.address, c.value)), want) << std::hex << c.address;
    }
}

// Hosted or not, the ports see exactly the caller's traffic: the library's
// requests for a run of accesses, carried out by the driver's decoder, give
// the same port operations in the same order and the same EC RAM.
TEST(EcAccessRecogniser, TheRequestsGiveTheCallersTrafficExactly)
{
    FakeKernel direct, hosted;
    EcAccessRecogniser r;
    std::mt19937 random(7);
    std::vector<uint16_t> addresses = {0x1060, 0xD212, 0xD213, 0xD214, 0xD215, 0xD218, 0xD220, 0xD240, 0xD247};
    for (uint16_t a = 0xCC00; a <= 0xCCFF; ++a)
        addresses.push_back(a);
    for (int i = 0; i < 2000; ++i) {
        const uint16_t address = addresses[random() % addresses.size()];
        const bool isWrite = random() % 2;
        const uint8_t value = isWrite ? static_cast<uint8_t>(random()) : direct.chip.ecRam[address];
        for (const PortAccess& a : EcTraffic(isWrite, address, value)) {
            if (a.isWrite)
                direct.chip.Out(a.port, a.value);
            else
                ASSERT_EQ(direct.chip.In(a.port), a.value);
            direct.accesses.push_back(a);
            Send(hosted, Feed(r, a));
        }
    }
    EXPECT_EQ(hosted.accesses, direct.accesses);
    EXPECT_EQ(hosted.chip.ecRam, direct.chip.ecRam);
    EXPECT_EQ(hosted.unlockedAccesses, 0);
}

// Every one of the 65,536 EC addresses, read and written on the right path:
// only the three windows become a request; any other is refused, naming the
// address, and nothing is sent.
TEST(EcAccessRecogniser, OnlyTheThreeWindowsBecomeRequests)
{
    EcAccessRecogniser r;
    for (uint32_t address = 0; address <= 0xFFFF; ++address) {
        const bool served = (address >= 0xCC00 && address <= 0xCCFF) || (address >= 0xD212 && address <= 0xD247) ||
                            address == 0x1060;
        for (bool isWrite : {true, false}) {
            const auto steps = FeedAll(r, EcTraffic(isWrite, static_cast<uint16_t>(address), 0x3C));
            const EcStep want = served ? (isWrite ? Write(address, 0x3C) : Read(address))
                                       : EcStep{EcStepKind::Refused, static_cast<uint16_t>(address),
                                                static_cast<uint8_t>(isWrite ? 0x3C : 0), Refusal::AddressNotServed};
            ASSERT_EQ(steps.back(), want) << std::hex << address;
            ASSERT_EQ(std::count(steps.begin(), steps.end(), Held), 11);
        }
    }
}

struct OffPathCase {
    const char* what;
    std::vector<PortAccess> traffic;
    std::vector<EcStep> steps;
};

std::vector<PortAccess> Then(std::vector<PortAccess> a, const std::vector<PortAccess>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Sequences that leave the EC-access path are never sent, and what follows
// them is not taken as if they had reached the chip.
TEST(EcAccessRecogniser, TrafficOffThePathIsNeverSent)
{
    const auto setUp = EcTraffic(true, 0xD213, 0xA6); // the path fully set up, then:
    const OffPathCase cases[] = {
        {"the data port without its index", {{true, 0x4F, 0x12}, {false, 0x4F, 0}}, {OffPath, OffPath}},
        {"a read of the index port", {{false, 0x4E, 0}}, {OffPath}},
        {"other ports", {{true, 0x4D, 0x2E}, {true, 0x50, 0x2F}, {true, 0x14E, 0x2E}, {true, 0x80, 0x01},
                         {true, 0xCF9, 0x06}, {false, 0x2F, 0}, {false, 0x14F, 0}},
         {OffPath, OffPath, OffPath, OffPath, OffPath, OffPath, OffPath}},
        {"another index value: logical-device select, then its data",
         Then(setUp, {{true, 0x4E, 0x07}, {true, 0x4F, 0x05}, {false, 0x4F, 0}}),
         {Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Write(0xD213, 0xA6), OffPath, OffPath,
          OffPath}},
        {"another EC-access register selected, then its data",
         Then(setUp, {{true, 0x4E, 0x2E}, {true, 0x4F, 0x13}, {true, 0x4E, 0x2F}, {true, 0x4F, 0x99},
                      {false, 0x4F, 0}}),
         {Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Write(0xD213, 0xA6), Held, OffPath,
          Held, OffPath, OffPath}},
        {"the data register before any address",
         {{true, 0x4E, 0x2E}, {true, 0x4F, 0x12}, {true, 0x4E, 0x2F}, {true, 0x4F, 0x55}, {false, 0x4F, 0}},
         {Held, Held, Held, OffPath, OffPath}},
        {"a read of an address register",
         {{true, 0x4E, 0x2E}, {true, 0x4F, 0x11}, {true, 0x4E, 0x2F}, {false, 0x4F, 0}}, {Held, Held, Held, OffPath}},
        {"a read with the EC index selected", Then(setUp, {{true, 0x4E, 0x2E}, {false, 0x4F, 0}}),
         {Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Write(0xD213, 0xA6), Held, OffPath}},
    };
    for (const auto& c : cases) {
        EcAccessRecogniser r;
        EXPECT_EQ(FeedAll(r, c.traffic), c.steps) << c.what;
    }
}

// Random traffic near the path: whole EC accesses, some with one operation
// dropped, moved to another port or given another value, between single
// stray operations. Whatever comes, every request the recogniser makes is
// the access a real chip fed the whole traffic would have made to the EC,
// at a served address, and nothing else is sent.
TEST(EcAccessRecogniser, ExplorerRequestsAreWhatTheChipWouldDo)
{
    const uint16_t addresses[] = {0xCC00, 0xCC7F, 0xCCFF, 0xCBFF, 0xCD00, 0xD212, 0xD213, 0xD247,
                                  0xD248, 0xD211, 0x1060, 0x105F, 0x0000, 0xFFFF};
    const uint16_t ports[] = {0x4E, 0x4F, 0x4D, 0x50, 0x14E, 0x80};
    int requests = 0, refused = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        std::vector<PortAccess> traffic;
        for (int chunk = 0; chunk < 60; ++chunk) {
            if (random() % 3 == 0) {
                traffic.push_back({random() % 4 != 0, ports[random() % 6], static_cast<uint8_t>(random())});
                continue;
            }
            auto access = EcTraffic(random() % 2, addresses[random() % 14], static_cast<uint8_t>(random()));
            if (random() % 3 == 0) {
                const size_t at = random() % access.size();
                switch (random() % 3) {
                case 0: access.erase(access.begin() + at); break;
                case 1: access[at].port = ports[random() % 6]; break;
                default: access[at].value = static_cast<uint8_t>(random()); break;
                }
            }
            traffic.insert(traffic.end(), access.begin(), access.end());
        }
        EcAccessRecogniser r;
        vyk::test::SuperIoChip chip;
        for (size_t i = 0; i < traffic.size(); ++i) {
            const PortAccess& a = traffic[i];
            const size_t before = chip.ecAccesses.size();
            EcStep step;
            if (a.isWrite) {
                chip.Out(a.port, a.value);
                step = r.Out(a.port, a.value);
            } else {
                chip.In(a.port);
                step = r.In(a.port);
            }
            SCOPED_TRACE(testing::Message() << "seed " << seed << " op " << i);
            if (step.kind == EcStepKind::Write || step.kind == EcStepKind::Read) {
                ++requests;
                ASSERT_EQ(chip.ecAccesses.size(), before + 1);
                const auto& e = chip.ecAccesses.back();
                ASSERT_EQ(e.isWrite, step.kind == EcStepKind::Write);
                ASSERT_EQ(e.address, step.address);
                if (e.isWrite) {
                    ASSERT_EQ(e.value, step.value);
                }
                ASSERT_TRUE(VykEcAddressServed(step.address));
            }
            refused += step.kind == EcStepKind::Refused;
            if (step.kind == EcStepKind::Held) {
                ASSERT_TRUE(a.isWrite && (a.port == 0x4E || a.port == 0x4F));
            }
        }
    }
    // Both sides are reached often enough to judge them.
    EXPECT_GT(requests, 3000);
    EXPECT_GT(refused, 3000);
}

} // namespace
