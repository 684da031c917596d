#pragma once
// The Super I/O pair the 64-bit driver's port instructions reach under Wine
// (HostedPortStandIn.cpp), and the Wine tests' prediction of it: 0x4E holds
// an index, 0x4F reads and writes the register it selects, register i
// starting as i ^ 0xA5. Register 0x2F reaches the EC-access register that
// 0x2E selects; EC-access register 0x12 reaches the EC RAM byte that 0x11
// (high) and 0x10 (low) name, EC RAM byte a starting as (a & 0xFF) ^ 0x5A.
// Each access gives the line the stand-in logs.
#include <cstdint>
#include <cstdio>
#include <string>

namespace vyk::winetest {

struct SuperIoStandIn {
    uint8_t index = 0;
    uint8_t registers[256];
    uint8_t ecRegisters[256] = {};
    uint8_t ecRam[0x10000];

    SuperIoStandIn()
    {
        for (int i = 0; i < 256; ++i)
            registers[i] = static_cast<uint8_t>(i ^ 0xA5);
        for (int a = 0; a < 0x10000; ++a)
            ecRam[a] = static_cast<uint8_t>((a & 0xFF) ^ 0x5A);
    }

    uint16_t EcAddress() const { return static_cast<uint16_t>(ecRegisters[0x11] << 8 | ecRegisters[0x10]); }
    bool AtEcData() const { return index == 0x2F && registers[0x2E] == 0x12; }

    std::string Out(uint16_t port, uint8_t value)
    {
        if (port == 0x4E) {
            index = value;
        } else if (port == 0x4F) {
            registers[index] = value;
            if (index == 0x2F)
                ecRegisters[registers[0x2E]] = value;
            if (AtEcData())
                ecRam[EcAddress()] = value;
        }
        return Line("out", port, value);
    }

    std::string In(uint16_t port, uint8_t* value)
    {
        *value = port == 0x4E ? index : port == 0x4F ? (AtEcData() ? ecRam[EcAddress()] : registers[index]) : 0xFF;
        return Line("in", port, *value);
    }

    static std::string Line(const char* what, uint16_t port, uint8_t value)
    {
        char text[24];
        std::snprintf(text, sizeof text, "%s %X %02X", what, port, value);
        return text;
    }
};

} // namespace vyk::winetest
