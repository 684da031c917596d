// Host stand-in for the kernel routines the driver's request decoding
// calls: a Super I/O chip with an EC behind it, recording every access and
// whether the sequence lock was held for it.
#pragma once
#include <array>
#include <cstddef>
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

// What a real Super I/O chip does with the pair: 0x4E holds the index,
// 0x4F reads and writes the register it selects; register 0x2F reaches the
// EC-access register that 0x2E selects, and EC-access register 0x12 reaches
// the EC RAM byte the address registers 0x11 (high) and 0x10 (low) name.
struct SuperIoChip {
    uint8_t index = 0;
    std::array<uint8_t, 256> registers{};
    std::array<uint8_t, 256> ecRegisters{};
    std::array<uint8_t, 0x10000> ecRam{};
    // The EC RAM accesses the chip carried out, in order.
    struct EcAccess {
        bool isWrite;
        uint16_t address;
        uint8_t value;
        bool operator==(const EcAccess&) const = default;
    };
    std::vector<EcAccess> ecAccesses;

    uint16_t Address() const { return static_cast<uint16_t>(ecRegisters[VYK_EC_ADDR_HIGH] << 8 | ecRegisters[VYK_EC_ADDR_LOW]); }
    bool AtEcData() const { return index == VYK_SIO_EC_DATA && registers[VYK_SIO_EC_INDEX] == VYK_EC_DATA; }

    void Out(uint16_t port, uint8_t value)
    {
        if (port == VYK_SIO_INDEX_PORT) {
            index = value;
        } else if (port == VYK_SIO_DATA_PORT) {
            registers[index] = value;
            if (index == VYK_SIO_EC_DATA) {
                ecRegisters[registers[VYK_SIO_EC_INDEX]] = value;
                if (AtEcData()) {
                    ecRam[Address()] = value;
                    ecAccesses.push_back({true, Address(), value});
                }
            }
        }
    }
    uint8_t In(uint16_t port)
    {
        if (port == VYK_SIO_DATA_PORT && AtEcData()) {
            ecAccesses.push_back({false, Address(), ecRam[Address()]});
            return ecRam[Address()];
        }
        return port == VYK_SIO_DATA_PORT ? registers[index] : port == VYK_SIO_INDEX_PORT ? index : 0xFF;
    }
};

class FakeKernel {
public:
    SuperIoChip chip;
    std::vector<PortAccess> accesses;
    // accesses.size() at each lock and unlock; port accesses made unlocked.
    std::vector<std::size_t> lockedAt, unlockedAt;
    int unlockedAccesses = 0;
    bool locked = false;

    VykKernel Table();

    VykStatus Decode(uint32_t code, uint8_t* buffer, uint32_t in, uint32_t out, uint32_t* information)
    {
        VykRequest request{code, buffer, in, out};
        VykKernel table = Table();
        return VykDecodeRequest(&table, &request, information);
    }
};

} // namespace vyk::test
