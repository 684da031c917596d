// Host stand-in for the kernel routines the driver's request decoding
// calls: a port space that records every access.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "portlib/driver/RequestDecoder.h"

namespace vyk::test {

struct PortAccess {
    bool isWrite;
    uint16_t port;
    uint8_t value;
    bool operator==(const PortAccess&) const = default;
};

class FakeKernel {
public:
    std::array<uint8_t, 0x10000> portBytes{};
    std::vector<PortAccess> accesses;

    VykKernel Table();

    VykStatus Decode(uint32_t code, uint8_t* buffer, uint32_t in, uint32_t out, uint32_t* information)
    {
        VykRequest request{code, buffer, in, out};
        VykKernel table = Table();
        return VykDecodeRequest(&table, &request, information);
    }
};

} // namespace vyk::test
