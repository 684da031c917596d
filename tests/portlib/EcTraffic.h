// The port traffic of one EC RAM access as the program writes it: six
// Super I/O register writes (index, then data) for the address high byte,
// the low byte and the data register, then the data byte written, or 0x2F
// to the index and one read of the data port.
#pragma once
#include <cstdint>
#include <vector>

#include "tests/portlib/FakeKernel.h"

namespace vyk::test {

inline std::vector<PortAccess> EcTraffic(bool isWrite, uint16_t address, uint8_t value)
{
    std::vector<PortAccess> t;
    const auto sio = [&](uint8_t reg, uint8_t v) {
        t.push_back({true, VYK_SIO_INDEX_PORT, reg});
        t.push_back({true, VYK_SIO_DATA_PORT, v});
    };
    sio(0x2E, 0x11);
    sio(0x2F, static_cast<uint8_t>(address >> 8));
    sio(0x2E, 0x10);
    sio(0x2F, static_cast<uint8_t>(address));
    sio(0x2E, 0x12);
    if (isWrite) {
        sio(0x2F, value);
    } else {
        t.push_back({true, VYK_SIO_INDEX_PORT, 0x2F});
        t.push_back({false, VYK_SIO_DATA_PORT, value});
    }
    return t;
}

} // namespace vyk::test
