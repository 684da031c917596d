#pragma once
// The Super I/O pair the 64-bit driver's port instructions reach under Wine
// (HostedPortStandIn.cpp), and the Wine tests' prediction of it: 0x4E holds
// an index, 0x4F reads and writes the register it selects, register i
// starting as i ^ 0xA5. Each access gives the line the stand-in logs.
#include <cstdint>
#include <cstdio>
#include <string>

namespace vyk::winetest {

struct SuperIoStandIn {
    uint8_t index = 0;
    uint8_t registers[256];

    SuperIoStandIn()
    {
        for (int i = 0; i < 256; ++i)
            registers[i] = static_cast<uint8_t>(i ^ 0xA5);
    }

    std::string Out(uint16_t port, uint8_t value)
    {
        if (port == 0x4E)
            index = value;
        else if (port == 0x4F)
            registers[index] = value;
        return Line("out", port, value);
    }

    std::string In(uint16_t port, uint8_t* value)
    {
        *value = port == 0x4E ? index : port == 0x4F ? registers[index] : 0xFF;
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
