// Host stand-in for the kernel routines the driver's request decoding
// calls: a port space that records every access, and a section manager
// that tracks open handles, references and views so tests can see leaks.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "portlib/driver/RequestDecoder.h"

namespace vyk::test {

struct PortAccess {
    bool isWrite;
    int width; // 1, 2 or 4 bytes
    uint16_t port;
    uint32_t value;
    bool operator==(const PortAccess&) const = default;
};

class FakeKernel {
public:
    // Mapping granularity the fake applies to a view's start, as Windows does.
    static constexpr uint64_t Granularity = 0x10000;

    std::array<uint8_t, 0x10000> portBytes{};
    std::vector<PortAccess> accesses;

    // Failure injection for the map path.
    VykStatus openStatus = VYK_STATUS_SUCCESS;
    VykStatus referenceStatus = VYK_STATUS_SUCCESS;
    bool translateFails = false;
    VykStatus mapStatus = VYK_STATUS_SUCCESS;
    VykStatus unmapStatus = VYK_STATUS_SUCCESS;
    uint64_t translateOffset = 0;    // added by the bus translation
    uint64_t nextHandle = 0x84;
    uint64_t nextViewBase = 0x10000000;

    std::set<uint64_t> openHandles;
    int references = 0;
    std::map<uint64_t, uint64_t> views; // base -> length
    std::vector<uint64_t> unmappedAddresses;
    std::vector<uint64_t> closedHandles;
    std::vector<uint64_t> mappedOffsets; // translated start of each map

    VykKernel Table();

    VykStatus Decode(uint32_t code, uint8_t* buffer, uint32_t in, uint32_t out, uint32_t recordSize,
                     uint32_t* information)
    {
        VykRequest request{code, buffer, in, out, recordSize};
        VykKernel table = Table();
        return VykDecodeRequest(&table, &request, information);
    }
};

} // namespace vyk::test
