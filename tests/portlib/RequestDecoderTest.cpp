#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tests/portlib/EcTraffic.h"
#include "tests/portlib/FakeKernel.h"

using vyk::test::EcTraffic;
using vyk::test::FakeKernel;
using vyk::test::PortAccess;

namespace {

// The request layouts callers of the old, wider driver sent: a memory-map
// record (section, size, physical, linear) in its 32- and 64-bit forms.
std::vector<uint8_t> Record32(uint32_t section, uint32_t size, uint32_t physical, uint32_t linear)
{
    const uint32_t f[4] = {section, size, physical, linear};
    std::vector<uint8_t> b(sizeof f);
    std::memcpy(b.data(), f, sizeof f);
    return b;
}

std::vector<uint8_t> Record64(uint64_t section, uint64_t size, uint64_t physical, uint64_t linear)
{
    const uint64_t f[4] = {section, size, physical, linear};
    std::vector<uint8_t> b(sizeof f);
    std::memcpy(b.data(), f, sizeof f);
    return b;
}

constexpr uint32_t RetiredCodes[] = {VYK_IOCTL_READ_BYTE,  VYK_IOCTL_WRITE_BYTE,  VYK_IOCTL_READ_WORD,
                                     VYK_IOCTL_WRITE_WORD, VYK_IOCTL_READ_DWORD,  VYK_IOCTL_WRITE_DWORD,
                                     VYK_IOCTL_MAP_MEMORY, VYK_IOCTL_UNMAP_MEMORY};

bool Served(uint32_t a) { return (a >= 0xCC00 && a <= 0xCCFF) || (a >= 0xD212 && a <= 0xD247) || a == 0x1060; }

TEST(RequestDecoder, CodesAreTheDocumentedValues)
{
    EXPECT_EQ(VYK_IOCTL_READ_BYTE, 0x9C402004u);
    EXPECT_EQ(VYK_IOCTL_WRITE_BYTE, 0x9C402008u);
    EXPECT_EQ(VYK_IOCTL_READ_WORD, 0x9C40200Cu);
    EXPECT_EQ(VYK_IOCTL_WRITE_WORD, 0x9C402010u);
    EXPECT_EQ(VYK_IOCTL_READ_DWORD, 0x9C402014u);
    EXPECT_EQ(VYK_IOCTL_WRITE_DWORD, 0x9C402018u);
    EXPECT_EQ(VYK_IOCTL_MAP_MEMORY, 0x9C40201Cu);
    EXPECT_EQ(VYK_IOCTL_UNMAP_MEMORY, 0x9C402020u);
    // Buffered, function 0x809/0x80A, and both FILE_READ_ACCESS and
    // FILE_WRITE_ACCESS in bits 14 and 15.
    EXPECT_EQ(VYK_IOCTL_EC_READ, 0x9C40E024u);
    EXPECT_EQ(VYK_IOCTL_EC_WRITE, 0x9C40E028u);
    EXPECT_EQ(VYK_STATUS_ACCESS_DENIED, static_cast<VykStatus>(0xC0000022));
    EXPECT_EQ(VYK_STATUS_INVALID_PARAMETER, static_cast<VykStatus>(0xC000000D));
}

struct EcCase {
    const char* what;
    bool isWrite;
    uint16_t address;
    uint8_t value; // written, or what the EC holds for a read
    std::vector<PortAccess> traffic;
};

// The traffic examples of EC RAM access, request by request: the exact
// twelve port operations in their order, all under the one lock.
TEST(RequestDecoder, EcRequestsRunTheExactSuperIoSequenceUnderTheLock)
{
    const EcCase cases[] = {
        {"write 0xA6 to 0xD213", true, 0xD213, 0xA6,
         {{true, 0x4E, 0x2E}, {true, 0x4F, 0x11}, {true, 0x4E, 0x2F}, {true, 0x4F, 0xD2}, {true, 0x4E, 0x2E},
          {true, 0x4F, 0x10}, {true, 0x4E, 0x2F}, {true, 0x4F, 0x13}, {true, 0x4E, 0x2E}, {true, 0x4F, 0x12},
          {true, 0x4E, 0x2F}, {true, 0x4F, 0xA6}}},
        {"read 0xD220", false, 0xD220, 0x5C,
         {{true, 0x4E, 0x2E}, {true, 0x4F, 0x11}, {true, 0x4E, 0x2F}, {true, 0x4F, 0xD2}, {true, 0x4E, 0x2E},
          {true, 0x4F, 0x10}, {true, 0x4E, 0x2F}, {true, 0x4F, 0x20}, {true, 0x4E, 0x2E}, {true, 0x4F, 0x12},
          {true, 0x4E, 0x2F}, {false, 0x4F, 0x5C}}},
        {"write 0x80 to 0x1060", true, 0x1060, 0x80, EcTraffic(true, 0x1060, 0x80)},
        {"read the window's last byte", false, 0xCCFF, 0xFF, EcTraffic(false, 0xCCFF, 0xFF)},
        {"write the mailbox's last byte", true, 0xD247, 0x00, EcTraffic(true, 0xD247, 0x00)},
    };
    for (const EcCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeKernel k;
        k.chip.ecRam[c.address] = c.isWrite ? 0x77 : c.value;
        uint8_t b[3] = {static_cast<uint8_t>(c.address), static_cast<uint8_t>(c.address >> 8), c.value};
        uint32_t info = 99;
        const VykStatus status = c.isWrite ? k.Decode(VYK_IOCTL_EC_WRITE, b, 3, 0, &info)
                                           : k.Decode(VYK_IOCTL_EC_READ, b, 2, 1, &info);
        EXPECT_EQ(status, VYK_STATUS_SUCCESS);
        EXPECT_EQ(info, c.isWrite ? 0u : 1u);
        EXPECT_EQ(k.accesses, c.traffic);
        EXPECT_EQ(k.lockedAt, std::vector<size_t>{0});
        EXPECT_EQ(k.unlockedAt, std::vector<size_t>{12});
        EXPECT_EQ(k.unlockedAccesses, 0);
        // The EC behind the chip saw exactly the one access.
        EXPECT_EQ(k.chip.ecAccesses, (std::vector<vyk::test::SuperIoChip::EcAccess>{{c.isWrite, c.address, c.value}}));
        if (!c.isWrite) {
            EXPECT_EQ(b[0], c.value);
        }
    }
}

// Reads and writes of every one of the 65,536 EC RAM addresses: only the
// mailbox's window (0xCC00..0xCCFF), its registers (0xD212..0xD247) and the
// set-up register 0x1060 are served. Every other address is refused with
// access denied before the lock or a port is touched, and the buffer stays
// as it came.
TEST(RequestDecoder, OnlyTheThreeWindowsOfEcRamAreServed)
{
    int served = 0;
    for (uint32_t address = 0; address <= 0xFFFF; ++address) {
        const bool allowed = Served(address);
        ASSERT_EQ(VykEcAddressServed(static_cast<uint16_t>(address)) != 0, allowed) << std::hex << address;
        served += allowed;
        for (uint32_t code : {VYK_IOCTL_EC_READ, VYK_IOCTL_EC_WRITE}) {
            FakeKernel k;
            uint8_t b[3] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), 0x5A};
            const uint8_t before[3] = {b[0], b[1], b[2]};
            uint32_t info = 99;
            const bool read = code == VYK_IOCTL_EC_READ;
            const VykStatus status = k.Decode(code, b, read ? 2 : 3, read ? 1 : 0, &info);
            if (allowed) {
                ASSERT_EQ(status, VYK_STATUS_SUCCESS);
                ASSERT_EQ(k.accesses, EcTraffic(!read, static_cast<uint16_t>(address), read ? 0 : 0x5A));
                continue;
            }
            ASSERT_EQ(status, VYK_STATUS_ACCESS_DENIED) << std::hex << address;
            ASSERT_EQ(info, 0u);
            ASSERT_TRUE(k.accesses.empty() && k.lockedAt.empty()) << std::hex << address;
            ASSERT_EQ(std::memcmp(b, before, 3), 0) << std::hex << address;
        }
    }
    EXPECT_EQ(served, 256 + 0x36 + 1);
}

// Unknown codes, among them the EC requests' own functions with other
// access rights, are unsuccessful and return nothing.
TEST(RequestDecoder, UnknownCodesAreUnsuccessfulWithNoData)
{
    FakeKernel k;
    for (uint32_t code : {0u, 0x9C402000u, 0x9C402024u, 0x9C402028u, 0x9C406024u, 0x9C40A028u, 0x9C40E02Cu,
                          0x9C402005u, 0x9C41E024u, 0xFFFFFFFFu}) {
        uint8_t b[8] = {0x00, 0xCC, 3, 4, 5, 6, 7, 8};
        uint32_t info = 99;
        EXPECT_EQ(k.Decode(code, b, 8, 8, &info), VYK_STATUS_UNSUCCESSFUL) << std::hex << code;
        EXPECT_EQ(info, 0u);
        EXPECT_EQ(b[0], 0x00);
    }
    EXPECT_TRUE(k.accesses.empty());
}

// The old byte, word, doubleword, map and unmap requests are refused
// whatever they carry: the layouts their callers used (a byte write to 0x4E,
// a word write to 0x4E, a doubleword read of PCI configuration, memory-map
// records of both widths, empty, wrapping and oversized ranges) and every
// length up to 64.
TEST(RequestDecoder, RetiredRequestsAreRefusedBeforeAnythingIsTouched)
{
    std::vector<std::vector<uint8_t>> buffers = {
        {0x4E, 0x00, 0x2E},                                     // byte write of the index port
        {0x4F, 0x00},                                           // byte read of the data port
        {0x4E, 0x00, 0x2E, 0x00, 0x00},                         // word write to the index port
        {0xFC, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80},       // doubleword at 0xCFC
        {0xF9, 0x0C, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00},       // reset control
        Record32(0, 0x100, 0xF0000, 0),
        Record32(0, 0, 0xF0000, 0),
        Record32(0, 0x2000, 0xFFFFF000, 0),
        Record32(0x84, 0, 0, 0x10000000),                        // an unmap of a view and its handle
        Record64(0, 0x100, 0xF0000, 0),
        Record64(0, 0x2000, 0xFFFFFFFFFFFFF000ull, 0),
        Record64(0x84, 0, 0, 0x10000000),
        std::vector<uint8_t>(48, 0xEE),
    };
    for (uint32_t code : RetiredCodes) {
        for (const auto& original : buffers) {
            for (uint32_t in : {0u, 2u, 3u, 4u, uint32_t(original.size())}) {
                for (uint32_t out : {0u, 1u, 4u, uint32_t(original.size())}) {
                    SCOPED_TRACE(testing::Message() << std::hex << code << std::dec << " in " << in << " out " << out
                                                    << " of " << original.size());
                    FakeKernel k;
                    auto b = original;
                    uint32_t info = 99;
                    EXPECT_EQ(k.Decode(code, b.data(), std::min<uint32_t>(in, b.size()),
                                       std::min<uint32_t>(out, b.size()), &info),
                              VYK_STATUS_ACCESS_DENIED);
                    EXPECT_EQ(info, 0u);
                    EXPECT_EQ(b, original);
                    EXPECT_TRUE(k.accesses.empty());
                }
            }
        }
    }
}

// The two EC codes for a served and a refused address, and the retired
// codes, with every input and output length from 0 to 64, in a buffer of
// exactly the size the system would allocate: a request touches the ports
// only when both minimums are met, one cut short is refused as an invalid
// parameter (never passed off as done), none returns more than the output
// length or changes a byte past it.
TEST(RequestDecoder, EveryCodeWithEveryLengthUpTo64)
{
    struct Minimum {
        uint32_t code, minIn, minOut, returned;
    };
    const Minimum ec[] = {{VYK_IOCTL_EC_READ, 2, 1, 1}, {VYK_IOCTL_EC_WRITE, 3, 0, 0}};
    for (uint16_t address : {uint16_t(0xD213), uint16_t(0xCC00), uint16_t(0xD248)}) {
        for (uint32_t in = 0; in <= 64; ++in) {
            for (uint32_t out = 0; out <= 64; ++out) {
                const uint32_t capacity = std::max(in, out);
                auto run = [&](uint32_t code, VykStatus expectStatus, uint32_t expectInfo, size_t expectAccesses) {
                    FakeKernel k;
                    std::vector<uint8_t> b(capacity, 0x5A);
                    if (capacity >= 1)
                        b[0] = static_cast<uint8_t>(address);
                    if (capacity >= 2)
                        b[1] = static_cast<uint8_t>(address >> 8);
                    const auto before = b;
                    uint32_t info = 12345;
                    const VykStatus status = k.Decode(code, b.data(), in, out, &info);
                    SCOPED_TRACE(testing::Message() << std::hex << code << " address " << address << std::dec
                                                    << " in " << in << " out " << out);
                    EXPECT_EQ(status, expectStatus);
                    EXPECT_EQ(info, expectInfo);
                    EXPECT_LE(info, out);
                    EXPECT_EQ(k.accesses.size(), expectAccesses);
                    const uint32_t untouchedFrom = status == VYK_STATUS_SUCCESS ? out : 0;
                    for (uint32_t i = untouchedFrom; i < capacity; ++i)
                        EXPECT_EQ(b[i], before[i]) << "byte " << i;
                };
                for (const auto& p : ec) {
                    const bool complete = in >= p.minIn && out >= p.minOut;
                    if (in >= 2 && !Served(address))
                        run(p.code, VYK_STATUS_ACCESS_DENIED, 0, 0);
                    else if (!complete)
                        run(p.code, VYK_STATUS_INVALID_PARAMETER, 0, 0);
                    else
                        run(p.code, VYK_STATUS_SUCCESS, p.returned, 12);
                }
                for (uint32_t code : RetiredCodes)
                    run(code, VYK_STATUS_ACCESS_DENIED, 0, 0);
            }
        }
    }
}

} // namespace
