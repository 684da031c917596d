#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/portlib/FakeKernel.h"

using vyk::test::FakeKernel;
using vyk::test::PortAccess;

namespace {

constexpr uint32_t Narrow = VYK_MAP_RECORD32_SIZE;
constexpr uint32_t Wide = VYK_MAP_RECORD64_SIZE;

std::vector<uint8_t> NarrowRecord(uint32_t section, uint32_t size, uint32_t physical, uint32_t linear)
{
    VykMapRecord32 r{section, size, physical, linear};
    std::vector<uint8_t> b(sizeof r);
    std::memcpy(b.data(), &r, sizeof r);
    return b;
}

std::vector<uint8_t> WideRecord(uint64_t section, uint64_t size, uint64_t physical, uint64_t linear)
{
    VykMapRecord64 r{section, size, physical, linear};
    std::vector<uint8_t> b(sizeof r);
    std::memcpy(b.data(), &r, sizeof r);
    return b;
}

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
}

// The three cases the request table is known by.
TEST(RequestDecoder, ShortWriteByteSucceedsWithoutTouchingThePort)
{
    FakeKernel k;
    uint8_t b[2] = {0x4E, 0x00};
    uint32_t info = 99;
    EXPECT_EQ(k.Decode(VYK_IOCTL_WRITE_BYTE, b, 2, 0, Narrow, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(k.accesses.empty());
}

TEST(RequestDecoder, UnknownCodesAreUnsuccessfulWithNoData)
{
    FakeKernel k;
    for (uint32_t code : {0u, 0x9C402000u, 0x9C402024u, 0x9C402005u, 0x9C412004u, 0xFFFFFFFFu}) {
        uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        uint32_t info = 99;
        EXPECT_EQ(k.Decode(code, b, 8, 8, Narrow, &info), VYK_STATUS_UNSUCCESSFUL) << std::hex << code;
        EXPECT_EQ(info, 0u);
        EXPECT_EQ(b[0], 1);
    }
    EXPECT_TRUE(k.accesses.empty());
}

TEST(RequestDecoder, ReadByteReturnsThePortValueInByteZero)
{
    FakeKernel k;
    k.portBytes[0x4F] = 0xA5;
    uint8_t b[2] = {0x4F, 0x00};
    uint32_t info = 0;
    EXPECT_EQ(k.Decode(VYK_IOCTL_READ_BYTE, b, 2, 1, Narrow, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, 1u);
    EXPECT_EQ(b[0], 0xA5);
    EXPECT_EQ(k.accesses, (std::vector<PortAccess>{{false, 1, 0x4F, 0xA5}}));
}

TEST(RequestDecoder, WriteByteWritesByteTwoToThePort)
{
    FakeKernel k;
    uint8_t b[3] = {0x4E, 0x00, 0x2E};
    uint32_t info = 99;
    EXPECT_EQ(k.Decode(VYK_IOCTL_WRITE_BYTE, b, 3, 0, Narrow, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(k.accesses, (std::vector<PortAccess>{{true, 1, 0x4E, 0x2E}}));
}

TEST(RequestDecoder, WordAndDoublewordRequestsUseTheirFields)
{
    FakeKernel k;
    k.portBytes[0x1234] = 0x11;
    k.portBytes[0x1235] = 0x22;
    k.portBytes[0x1236] = 0x33;
    k.portBytes[0x1237] = 0x44;
    uint32_t info = 0;

    uint8_t w[5] = {0xCD, 0xAB, 0x34, 0x12, 0x00}; // the library's 5-byte word write
    EXPECT_EQ(k.Decode(VYK_IOCTL_WRITE_WORD, w, 5, 0, Narrow, &info), VYK_STATUS_SUCCESS);
    uint8_t rw[2] = {0x34, 0x12};
    EXPECT_EQ(k.Decode(VYK_IOCTL_READ_WORD, rw, 2, 2, Narrow, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, 2u);
    EXPECT_EQ(rw[0], 0x11);
    EXPECT_EQ(rw[1], 0x22);

    // Doubleword port field is 32 bits; only its low 16 reach the port.
    uint8_t d[8] = {0x34, 0x12, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(k.Decode(VYK_IOCTL_WRITE_DWORD, d, 8, 0, Narrow, &info), VYK_STATUS_SUCCESS);
    uint8_t rd[4] = {0x34, 0x12, 0x01, 0x00};
    EXPECT_EQ(k.Decode(VYK_IOCTL_READ_DWORD, rd, 4, 4, Narrow, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, 4u);
    EXPECT_EQ(rd[0], 0x11);
    EXPECT_EQ(rd[3], 0x44);

    EXPECT_EQ(k.accesses, (std::vector<PortAccess>{{true, 2, 0xABCD, 0x1234},
                                                    {false, 2, 0x1234, 0x2211},
                                                    {true, 4, 0x1234, 0x12345678},
                                                    {false, 4, 0x1234, 0x44332211}}));
}

struct CodeMinimum {
    uint32_t code;
    uint32_t minIn;
    uint32_t minOut;
    uint32_t returned;
};

// Every code with every input and output length from 0 to 64, in a buffer
// of exactly the size the system would allocate: the request touches the
// port only when both minimums are met, never returns more than the output
// length, and never changes a byte past the output length.
TEST(RequestDecoder, EveryCodeWithEveryLengthUpTo64)
{
    const CodeMinimum ports[] = {
        {VYK_IOCTL_READ_BYTE, 2, 1, 1},  {VYK_IOCTL_WRITE_BYTE, 3, 0, 0},  {VYK_IOCTL_READ_WORD, 2, 2, 2},
        {VYK_IOCTL_WRITE_WORD, 4, 0, 0}, {VYK_IOCTL_READ_DWORD, 4, 4, 4}, {VYK_IOCTL_WRITE_DWORD, 8, 0, 0},
    };
    for (uint32_t recordSize : {Narrow, Wide}) {
        for (uint32_t in = 0; in <= 64; ++in) {
            for (uint32_t out = 0; out <= 64; ++out) {
                const uint32_t capacity = std::max(in, out);
                auto check = [&](uint32_t code, VykStatus expectStatus, uint32_t expectInfo, FakeKernel& k,
                                 std::vector<uint8_t>& b, const std::vector<uint8_t>& before) {
                    uint32_t info = 12345;
                    const VykStatus status = k.Decode(code, b.data(), in, out, recordSize, &info);
                    SCOPED_TRACE(testing::Message() << std::hex << code << std::dec << " in " << in << " out "
                                                    << out << " record " << recordSize);
                    EXPECT_EQ(status, expectStatus);
                    EXPECT_EQ(info, expectInfo);
                    EXPECT_LE(info, out);
                    for (uint32_t i = out; i < capacity; ++i)
                        EXPECT_EQ(b[i], before[i]) << "byte " << i;
                };
                for (const auto& p : ports) {
                    FakeKernel k;
                    std::vector<uint8_t> b(capacity, 0x5A), before = b;
                    const bool served = in >= p.minIn && out >= p.minOut;
                    check(p.code, VYK_STATUS_SUCCESS, served ? p.returned : 0, k, b, before);
                    EXPECT_EQ(k.accesses.size(), served ? 1u : 0u);
                }
                {
                    // Map: a record in and out, else refused before anything opens.
                    FakeKernel k;
                    std::vector<uint8_t> b(capacity, 0), before;
                    const auto rec = recordSize == Narrow ? NarrowRecord(0, 0x100, 0xF0000, 0)
                                                          : WideRecord(0, 0x100, 0xF0000, 0);
                    std::memcpy(b.data(), rec.data(), std::min<size_t>(rec.size(), capacity));
                    before = b;
                    const bool served = in >= recordSize && out >= recordSize;
                    check(VYK_IOCTL_MAP_MEMORY, served ? VYK_STATUS_SUCCESS : VYK_STATUS_INVALID_PARAMETER,
                          served ? recordSize : 0, k, b, before);
                    EXPECT_EQ(k.openHandles.size(), served ? 1u : 0u);
                    EXPECT_EQ(k.views.size(), served ? 1u : 0u);
                    EXPECT_EQ(k.references, 0);
                }
                {
                    // Unmap: a record in, nothing out.
                    FakeKernel k;
                    uint64_t handle = 0;
                    (void)k.Table().openPhysicalMemory(&k, &handle);
                    k.views[0x20000000] = 0x1000;
                    std::vector<uint8_t> b(capacity, 0), before;
                    const auto rec = recordSize == Narrow ? NarrowRecord(uint32_t(handle), 0, 0, 0x20000000)
                                                          : WideRecord(handle, 0, 0, 0x20000000);
                    std::memcpy(b.data(), rec.data(), std::min<size_t>(rec.size(), capacity));
                    before = b;
                    const bool served = in >= recordSize;
                    check(VYK_IOCTL_UNMAP_MEMORY, served ? VYK_STATUS_SUCCESS : VYK_STATUS_INVALID_PARAMETER, 0, k,
                          b, before);
                    EXPECT_EQ(k.openHandles.empty(), served);
                    EXPECT_EQ(k.views.empty(), served);
                }
            }
        }
    }
}

TEST(RequestDecoder, MapReturnsTheLinearAddressOfTheRequestedByte)
{
    for (uint32_t recordSize : {Narrow, Wide}) {
        FakeKernel k;
        auto b = recordSize == Narrow ? NarrowRecord(0, 4, 0x000F1234, 0) : WideRecord(0, 4, 0x000F1234, 0);
        uint32_t info = 0;
        ASSERT_EQ(k.Decode(VYK_IOCTL_MAP_MEMORY, b.data(), recordSize, recordSize, recordSize, &info),
                  VYK_STATUS_SUCCESS);
        EXPECT_EQ(info, recordSize);
        uint64_t section, size, physical, linear;
        if (recordSize == Narrow) {
            VykMapRecord32 r;
            std::memcpy(&r, b.data(), sizeof r);
            section = r.section, size = r.size, physical = r.physical, linear = r.linear;
        } else {
            VykMapRecord64 r;
            std::memcpy(&r, b.data(), sizeof r);
            section = r.section, size = r.size, physical = r.physical, linear = r.linear;
        }
        // The view starts at the aligned offset 0xF0000; the byte sits 0x1234 in.
        EXPECT_EQ(linear, 0x10000000u + 0x1234u);
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(physical, 0xF1234u);
        EXPECT_EQ(k.openHandles, std::set<uint64_t>{section});
        EXPECT_EQ(k.mappedOffsets, std::vector<uint64_t>{0xF1234});
        EXPECT_EQ(k.views.at(0x10000000), 0x1234u + 4u);
        EXPECT_EQ(k.references, 0);

        // Unmapping the returned record releases both.
        ASSERT_EQ(k.Decode(VYK_IOCTL_UNMAP_MEMORY, b.data(), recordSize, 0, recordSize, &info), VYK_STATUS_SUCCESS);
        EXPECT_TRUE(k.openHandles.empty());
        EXPECT_TRUE(k.views.empty());
    }
}

TEST(RequestDecoder, MapRefusesEmptyAndWrappingRanges)
{
    struct Case {
        uint32_t recordSize;
        uint64_t physical, size;
    } cases[] = {
        {Narrow, 0xF0000, 0},
        {Narrow, 0xFFFFF000, 0x2000},        // past 4 GiB from a 32-bit address
        {Narrow, 0xFFFFFFFF, 0xFFFFFFFF},
        {Wide, 0xF0000, 0},
        {Wide, 0xFFFFFFFFFFFFF000ull, 0x2000}, // wraps 64 bits
        {Wide, 1, UINT64_MAX},
    };
    for (const auto& c : cases) {
        FakeKernel k;
        auto b = c.recordSize == Narrow ? NarrowRecord(0, uint32_t(c.size), uint32_t(c.physical), 0)
                                        : WideRecord(0, c.size, c.physical, 0);
        const auto before = b;
        uint32_t info = 0;
        EXPECT_EQ(k.Decode(VYK_IOCTL_MAP_MEMORY, b.data(), c.recordSize, c.recordSize, c.recordSize, &info),
                  VYK_STATUS_INVALID_PARAMETER)
            << std::hex << c.physical << " " << c.size;
        EXPECT_EQ(info, 0u);
        EXPECT_EQ(b, before);
        EXPECT_TRUE(k.openHandles.empty());
        EXPECT_TRUE(k.closedHandles.empty()); // refused before anything was opened
    }
    // The last byte below 4 GiB is still reachable through a narrow record.
    FakeKernel k;
    auto b = NarrowRecord(0, 0x1000, 0xFFFFF000, 0);
    uint32_t info = 0;
    EXPECT_EQ(k.Decode(VYK_IOCTL_MAP_MEMORY, b.data(), Narrow, Narrow, Narrow, &info), VYK_STATUS_SUCCESS);
}

TEST(RequestDecoder, LongerRecordsAreBoundedAndShorterOnesRefused)
{
    // A wide record's first 16 bytes read as a narrow record would be
    // garbage: a narrow caller is served from the narrow form only, and a
    // wide caller's 16-byte record is refused rather than read past.
    FakeKernel k;
    auto narrow = NarrowRecord(0, 0x100, 0xF0000, 0);
    uint32_t info = 0;
    EXPECT_EQ(k.Decode(VYK_IOCTL_MAP_MEMORY, narrow.data(), Narrow, Narrow, Wide, &info),
              VYK_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(k.openHandles.empty());

    // 48 bytes in and out: the record is read from its own bytes; the tail
    // is neither read nor written, and only the record comes back.
    std::vector<uint8_t> b(48, 0xEE);
    const auto wide = WideRecord(0, 0x100, 0xF0000, 0);
    std::memcpy(b.data(), wide.data(), wide.size());
    EXPECT_EQ(k.Decode(VYK_IOCTL_MAP_MEMORY, b.data(), 48, 48, Wide, &info), VYK_STATUS_SUCCESS);
    EXPECT_EQ(info, Wide);
    for (size_t i = Wide; i < b.size(); ++i)
        EXPECT_EQ(b[i], 0xEE);
    EXPECT_EQ(k.mappedOffsets, std::vector<uint64_t>{0xF0000});
}

TEST(RequestDecoder, MapFailuresCloseTheSectionAndKeepNoReference)
{
    enum Fail { Open, Reference, Translate, Map, EmptyTranslation };
    for (Fail f : {Open, Reference, Translate, Map, EmptyTranslation}) {
        FakeKernel k;
        VykStatus expect = VYK_STATUS_INVALID_PARAMETER;
        switch (f) {
        case Open: k.openStatus = expect = static_cast<VykStatus>(0xC0000022); break;
        case Reference: k.referenceStatus = expect = static_cast<VykStatus>(0xC0000024); break;
        case Translate: k.translateFails = true; expect = VYK_STATUS_UNSUCCESSFUL; break;
        case Map: k.mapStatus = expect = static_cast<VykStatus>(0xC0000018); break;
        case EmptyTranslation: break;
        }
        auto b = NarrowRecord(0, 0x100, 0xF0000, 0);
        const auto before = b;
        uint32_t info = 0;
        VykKernel table = k.Table();
        if (f == EmptyTranslation) // the end translates below the start
            table.translateAddress = [](void*, uint64_t physical, uint64_t* t) -> int {
                *t = physical == 0xF0000 ? 0x5000 : 0x4000;
                return 1;
            };
        VykRequest q{VYK_IOCTL_MAP_MEMORY, b.data(), Narrow, Narrow, Narrow};
        EXPECT_EQ(VykDecodeRequest(&table, &q, &info), expect) << f;
        EXPECT_EQ(info, 0u);
        EXPECT_EQ(b, before);
        EXPECT_TRUE(k.openHandles.empty()) << f;
        EXPECT_TRUE(k.views.empty()) << f;
        EXPECT_EQ(k.references, 0) << f;
        EXPECT_EQ(k.closedHandles.size(), f == Open ? 0u : 1u) << f;
    }
}

TEST(RequestDecoder, NarrowCallerNeverGetsATruncatedAddress)
{
    FakeKernel k;
    k.nextViewBase = 0x1'2000'0000ull; // a view the 32-bit record cannot carry
    auto b = NarrowRecord(0, 0x100, 0xF0000, 0);
    const auto before = b;
    uint32_t info = 0;
    EXPECT_EQ(k.Decode(VYK_IOCTL_MAP_MEMORY, b.data(), Narrow, Narrow, Narrow, &info), VYK_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(b, before);
    EXPECT_TRUE(k.views.empty());
    EXPECT_TRUE(k.openHandles.empty());
}

TEST(RequestDecoder, UnmapClosesTheHandleEvenWhenTheUnmapFails)
{
    FakeKernel k;
    auto b = NarrowRecord(0, 0x100, 0xF0000, 0);
    uint32_t info = 0;
    ASSERT_EQ(k.Decode(VYK_IOCTL_MAP_MEMORY, b.data(), Narrow, Narrow, Narrow, &info), VYK_STATUS_SUCCESS);
    k.unmapStatus = static_cast<VykStatus>(0xC0000019);
    EXPECT_EQ(k.Decode(VYK_IOCTL_UNMAP_MEMORY, b.data(), Narrow, 0, Narrow, &info), k.unmapStatus);
    EXPECT_TRUE(k.openHandles.empty());
}

} // namespace
