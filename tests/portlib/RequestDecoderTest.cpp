#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tests/portlib/FakeKernel.h"

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

constexpr uint32_t RefusedCodes[] = {VYK_IOCTL_READ_WORD,  VYK_IOCTL_WRITE_WORD, VYK_IOCTL_READ_DWORD,
                                     VYK_IOCTL_WRITE_DWORD, VYK_IOCTL_MAP_MEMORY, VYK_IOCTL_UNMAP_MEMORY};

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
    EXPECT_EQ(VYK_STATUS_ACCESS_DENIED, static_cast<VykStatus>(0xC0000022));
}

// The three cases the request table is known by.
TEST(RequestDecoder, ShortWriteByteSucceedsWithoutTouchingThePort)
{
    FakeKernel k;
    uint8_t b[2] = {0x4E, 0x00};
    uint32_t info = 99;
    EXPECT_EQ(k.Decode(VYK_IOCTL_WRITE_BYTE, b, 2, 0, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(k.accesses.empty());
}

TEST(RequestDecoder, UnknownCodesAreUnsuccessfulWithNoData)
{
    FakeKernel k;
    for (uint32_t code : {0u, 0x9C402000u, 0x9C402024u, 0x9C402005u, 0x9C412004u, 0xFFFFFFFFu}) {
        uint8_t b[8] = {0x4E, 0, 3, 4, 5, 6, 7, 8};
        uint32_t info = 99;
        EXPECT_EQ(k.Decode(code, b, 8, 8, &info), VYK_STATUS_UNSUCCESSFUL) << std::hex << code;
        EXPECT_EQ(info, 0u);
        EXPECT_EQ(b[0], 0x4E);
    }
    EXPECT_TRUE(k.accesses.empty());
}

TEST(RequestDecoder, ReadByteReturnsThePortValueInByteZero)
{
    FakeKernel k;
    k.portBytes[0x4F] = 0xA5;
    uint8_t b[2] = {0x4F, 0x00};
    uint32_t info = 0;
    EXPECT_EQ(k.Decode(VYK_IOCTL_READ_BYTE, b, 2, 1, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, 1u);
    EXPECT_EQ(b[0], 0xA5);
    EXPECT_EQ(k.accesses, (std::vector<PortAccess>{{false, 0x4F, 0xA5}}));
}

TEST(RequestDecoder, WriteByteWritesByteTwoToThePort)
{
    FakeKernel k;
    uint8_t b[3] = {0x4E, 0x00, 0x2E};
    uint32_t info = 99;
    EXPECT_EQ(k.Decode(VYK_IOCTL_WRITE_BYTE, b, 3, 0, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(k.accesses, (std::vector<PortAccess>{{true, 0x4E, 0x2E}}));
}

// Byte reads and writes of every one of the 65,536 ports: only 0x4E and
// 0x4F are served. Every other port (0xCF8/0xCFC PCI configuration, 0xCF9
// reset, 0xB2 SMI, 0x4E with a high byte, ...) is refused with access
// denied, touches no port and leaves the buffer as it came.
TEST(RequestDecoder, ByteRequestsServeOnlyTheSuperIoPair)
{
    for (uint32_t port = 0; port <= 0xFFFF; ++port) {
        const bool allowed = port == 0x4E || port == 0x4F;
        ASSERT_EQ(VykPortAllowed(static_cast<uint16_t>(port)) != 0, allowed) << port;
        for (uint32_t code : {VYK_IOCTL_READ_BYTE, VYK_IOCTL_WRITE_BYTE}) {
            FakeKernel k;
            uint8_t b[3] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8), 0x5A};
            const uint8_t before[3] = {b[0], b[1], b[2]};
            uint32_t info = 99;
            const uint32_t out = code == VYK_IOCTL_READ_BYTE ? 1 : 0;
            const VykStatus status = k.Decode(code, b, 3, out, &info);
            if (allowed) {
                ASSERT_EQ(status, VYK_STATUS_SUCCESS);
                ASSERT_EQ(k.accesses.size(), 1u);
                ASSERT_EQ(k.accesses[0].port, port);
                continue;
            }
            ASSERT_EQ(status, VYK_STATUS_ACCESS_DENIED) << std::hex << port;
            ASSERT_EQ(info, 0u);
            ASSERT_TRUE(k.accesses.empty()) << std::hex << port;
            ASSERT_EQ(std::memcmp(b, before, 3), 0) << std::hex << port;
        }
    }
}

// Word, doubleword, map and unmap requests are refused whatever they carry:
// the layouts their callers used (a word write to 0x4E, a doubleword read of
// PCI configuration, memory-map records of both widths for the BIOS area,
// empty, wrapping and oversized ranges) and every length up to 64.
TEST(RequestDecoder, WordDoublewordMapAndUnmapAreRefusedBeforeAnythingIsTouched)
{
    std::vector<std::vector<uint8_t>> buffers = {
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
    for (uint32_t code : RefusedCodes) {
        for (const auto& original : buffers) {
            for (uint32_t in : {0u, 2u, 4u, uint32_t(original.size())}) {
                for (uint32_t out : {0u, 4u, uint32_t(original.size())}) {
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

struct CodeMinimum {
    uint32_t code;
    uint32_t minIn;
    uint32_t minOut;
    uint32_t returned;
};

// The two byte codes for both ports of the pair and a refused port, with
// every input and output length from 0 to 64, in a buffer of exactly the
// size the system would allocate: a request touches the port only when both
// minimums are met, never returns more than the output length, and never
// changes a byte past the output length.
TEST(RequestDecoder, EveryCodeWithEveryLengthUpTo64)
{
    const CodeMinimum bytes[] = {{VYK_IOCTL_READ_BYTE, 2, 1, 1}, {VYK_IOCTL_WRITE_BYTE, 3, 0, 0}};
    for (uint16_t port : {uint16_t(0x4E), uint16_t(0x4F), uint16_t(0xCF9)}) {
        for (uint32_t in = 0; in <= 64; ++in) {
            for (uint32_t out = 0; out <= 64; ++out) {
                const uint32_t capacity = std::max(in, out);
                auto run = [&](uint32_t code, VykStatus expectStatus, uint32_t expectInfo, size_t expectAccesses) {
                    FakeKernel k;
                    std::vector<uint8_t> b(capacity, 0x5A);
                    if (capacity >= 1)
                        b[0] = static_cast<uint8_t>(port);
                    if (capacity >= 2)
                        b[1] = static_cast<uint8_t>(port >> 8);
                    const auto before = b;
                    uint32_t info = 12345;
                    const VykStatus status = k.Decode(code, b.data(), in, out, &info);
                    SCOPED_TRACE(testing::Message() << std::hex << code << " port " << port << std::dec << " in "
                                                    << in << " out " << out);
                    EXPECT_EQ(status, expectStatus);
                    EXPECT_EQ(info, expectInfo);
                    EXPECT_LE(info, out);
                    EXPECT_EQ(k.accesses.size(), expectAccesses);
                    for (uint32_t i = out; i < capacity; ++i)
                        EXPECT_EQ(b[i], before[i]) << "byte " << i;
                };
                for (const auto& p : bytes) {
                    const bool allowed = port != 0xCF9;
                    const bool served = in >= p.minIn && out >= p.minOut;
                    if (in >= 2 && !allowed)
                        run(p.code, VYK_STATUS_ACCESS_DENIED, 0, 0);
                    else
                        run(p.code, VYK_STATUS_SUCCESS, served ? p.returned : 0, served ? 1 : 0);
                }
                for (uint32_t code : RefusedCodes)
                    run(code, VYK_STATUS_ACCESS_DENIED, 0, 0);
            }
        }
    }
}

} // namespace
