// Fuzz target for the driver's request decoding: arbitrary codes, lengths
// and buffer contents, with the buffer exactly as large as the system would
// allocate it, so the sanitizers see any access outside it. Whatever comes
// in, only byte accesses to 0x4E/0x4F ever reach the kernel, a refused
// request leaves the buffer as it was, and nothing past the output length
// changes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "tests/fuzz/Fuzz.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 6)
        return 0;
    const uint8_t flags = data[0];
    ++data, --size;
    uint32_t code = Take32(data, size);
    // Mostly codes of the table, with its neighbours and arbitrary values.
    if (flags & 1)
        code = VYK_CTL_CODE(0x800u + (code & 0xF));
    const uint32_t lengths = Take32(data, size);
    const uint32_t in = lengths & 0x7F;
    const uint32_t out = (lengths >> 8) & 0x7F;

    const uint32_t capacity = std::max(in, out);
    std::unique_ptr<uint8_t[]> buffer(capacity ? new uint8_t[capacity] : nullptr);
    for (uint32_t i = 0; i < capacity; ++i)
        buffer[i] = i < size ? data[i] : 0;
    // Often one of the pair, so served requests are explored too.
    if ((flags & 2) && capacity >= 2) {
        buffer[0] = static_cast<uint8_t>(VYK_SIO_INDEX_PORT + ((flags >> 2) & 1));
        buffer[1] = 0;
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
    for (const auto& a : k.accesses)
        FUZZ_REQUIRE(a.port == VYK_SIO_INDEX_PORT || a.port == VYK_SIO_DATA_PORT);
    FUZZ_REQUIRE(k.accesses.size() <= 1);
    if (code != VYK_IOCTL_READ_BYTE && code != VYK_IOCTL_WRITE_BYTE)
        FUZZ_REQUIRE(k.accesses.empty() && status < 0);
    if (status < 0) {
        FUZZ_REQUIRE(information == 0 && k.accesses.empty());
        for (uint32_t i = 0; i < capacity; ++i)
            FUZZ_REQUIRE(buffer[i] == before[i]);
    }
    return 0;
}
