// Fuzz target for the driver's request decoding: arbitrary codes, lengths
// and buffer contents, with the buffer exactly as large as the system would
// allocate it, so the sanitizers see any access outside it. After every
// request no reference may be held, and every successful map must unmap
// cleanly with the record it returned.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tests/portlib/FakeKernel.h"

namespace {

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

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
    const uint32_t recordSize = flags & 2 ? VYK_MAP_RECORD64_SIZE : VYK_MAP_RECORD32_SIZE;
    const uint32_t lengths = Take32(data, size);
    const uint32_t in = lengths & 0x7F;
    const uint32_t out = (lengths >> 8) & 0x7F;

    vyk::test::FakeKernel k;
    if (flags & 4)
        k.nextViewBase = 0x1'0000'0000ull; // beyond what a narrow record carries
    if (flags & 8)
        k.translateOffset = lengths >> 16;
    k.openStatus = flags & 0x10 ? VYK_STATUS_UNSUCCESSFUL : VYK_STATUS_SUCCESS;
    k.mapStatus = flags & 0x20 ? static_cast<VykStatus>(0xC0000018) : VYK_STATUS_SUCCESS;
    k.translateFails = (flags & 0x40) != 0;
    k.referenceStatus = flags & 0x80 ? static_cast<VykStatus>(0xC0000024) : VYK_STATUS_SUCCESS;

    const uint32_t capacity = std::max(in, out);
    std::unique_ptr<uint8_t[]> buffer(capacity ? new uint8_t[capacity] : nullptr);
    for (uint32_t i = 0; i < capacity; ++i)
        buffer[i] = i < size ? data[i] : 0;
    std::unique_ptr<uint8_t[]> before(capacity ? new uint8_t[capacity] : nullptr);
    if (capacity)
        std::memcpy(before.get(), buffer.get(), capacity);

    uint32_t information = 0xFFFFFFFF;
    const VykStatus status = k.Decode(code, buffer.get(), in, out, recordSize, &information);

    Require(information <= out);
    Require(k.references == 0);
    for (uint32_t i = out; i < capacity; ++i)
        Require(buffer[i] == before[i]);
    if (status < 0)
        Require(information == 0);

    if (code == VYK_IOCTL_MAP_MEMORY) {
        if (status >= 0) {
            Require(information == recordSize && k.openHandles.size() == 1 && k.views.size() == 1);
            uint32_t unmapInfo = 0;
            Require(k.Decode(VYK_IOCTL_UNMAP_MEMORY, buffer.get(), recordSize, 0, recordSize, &unmapInfo) >= 0);
        }
        Require(k.openHandles.empty() && k.views.empty());
    }
    return 0;
}
