// Fuzz target for the driver's request decoding: arbitrary codes, lengths
// and buffer contents, with the buffer exactly as large as the system would
// allocate it, so the sanitizers see any access outside it. Whatever comes
// in, the kernel sees either nothing or the twelve port operations of one
// EC RAM access at a served address, under the lock; a refused request
// leaves the buffer as it was, and nothing past the output length changes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "tests/fuzz/Fuzz.h"
#include "tests/portlib/EcTraffic.h"
#include "tests/portlib/FakeKernel.h"

namespace {

uint32_t Take32(const uint8_t*& data, size_t& size)
{
    uint32_t v = 0;
    const size_t n = std::min<size_t>(4, size);
    std::memcpy(&v, data, n);
    data += n;
    size -= n;
    return v;
}

uint16_t Get16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 6)
        return 0;
    const uint8_t flags = data[0];
    ++data, --size;
    uint32_t code = Take32(data, size);
    // Mostly codes of the table, with their neighbours and other access
    // rights, besides arbitrary values.
    if (flags & 1)
        code = VYK_CTL_CODE_ACCESS(0x800u + (code & 0xF), (code >> 4) & 3);
    const uint32_t lengths = Take32(data, size);
    const uint32_t in = lengths & 0x7F;
    const uint32_t out = (lengths >> 8) & 0x7F;

    const uint32_t capacity = std::max(in, out);
    std::unique_ptr<uint8_t[]> buffer(capacity ? new uint8_t[capacity] : nullptr);
    for (uint32_t i = 0; i < capacity; ++i)
        buffer[i] = i < size ? data[i] : 0;
    // Often an address in or next to a served window, so served requests
    // and the windows' edges are explored too.
    if ((flags & 2) && capacity >= 2) {
        static const uint16_t near[] = {0xCC00, 0xCBFF, 0xCCFF, 0xCD00, 0xD212, 0xD211, 0xD247, 0xD248, 0x1060, 0x105F,
                                        0x1061};
        const uint16_t address =
            static_cast<uint16_t>(near[(flags >> 2) % 11] + ((flags & 0x80) && buffer[0] < 0x36 ? buffer[0] : 0));
        buffer[0] = static_cast<uint8_t>(address);
        buffer[1] = static_cast<uint8_t>(address >> 8);
    }
    std::unique_ptr<uint8_t[]> before(capacity ? new uint8_t[capacity] : nullptr);
    if (capacity)
        std::memcpy(before.get(), buffer.get(), capacity);

    vyk::test::FakeKernel k;
    uint32_t information = 0xFFFFFFFF;
    const VykStatus status = k.Decode(code, buffer.get(), in, out, &information);

    FUZZ_REQUIRE(information <= out);
    for (uint32_t i = out; i < capacity; ++i)
        FUZZ_REQUIRE(buffer[i] == before[i]);
    FUZZ_REQUIRE(k.unlockedAccesses == 0 && k.lockedAt.size() == k.unlockedAt.size() && !k.locked);
    if (!k.accesses.empty()) {
        const bool isWrite = code == VYK_IOCTL_EC_WRITE;
        FUZZ_REQUIRE(isWrite || code == VYK_IOCTL_EC_READ);
        FUZZ_REQUIRE(status == VYK_STATUS_SUCCESS && in >= 2);
        const uint16_t address = Get16(before.get());
        FUZZ_REQUIRE(VykEcAddressServed(address));
        FUZZ_REQUIRE(k.accesses == vyk::test::EcTraffic(isWrite, address, isWrite ? before[2] : 0));
        FUZZ_REQUIRE(k.lockedAt.size() == 1 && k.lockedAt[0] == 0 && k.unlockedAt[0] == 12);
    }
    if (code != VYK_IOCTL_EC_READ && code != VYK_IOCTL_EC_WRITE)
        FUZZ_REQUIRE(k.accesses.empty() && status < 0);
    if (status < 0) {
        FUZZ_REQUIRE(information == 0 && k.accesses.empty() && k.lockedAt.empty());
        for (uint32_t i = 0; i < capacity; ++i)
            FUZZ_REQUIRE(buffer[i] == before[i]);
    }
    return 0;
}
