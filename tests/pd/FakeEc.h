#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "hw/PortIo.h"
#include "pd/Mailbox.h"

// A scripted EC behind the Super I/O ports: decodes the index/data traffic
// into EC RAM accesses and serves the mailbox with two small flashes. Each
// command stays busy for `busyReads` busy tests; `stuck` keeps it busy.
class FakeEc : public vyk::PortIo {
public:
    std::array<uint8_t, 0x10000> ram{};
    std::array<std::vector<uint8_t>, 2> flash{std::vector<uint8_t>(0x40000, 0xFF),
                                              std::vector<uint8_t>(0x40000, 0xFF)};
    std::vector<uint8_t> commands;
    int port = 1;
    int busyReads = 1;
    bool stuck = false;
    size_t stickAt = 0;    // stays busy from the command with this number (1-based) on
    bool absent = false;   // no chip: reads 0xFF, writes go nowhere
    int commandsWhileBusy = 0;

    void OutPortByte(uint16_t p, uint16_t data) override
    {
        data &= 0xFF;
        if (absent)
            return;
        if (p == 0x4E) { sioIndex_ = data; return; }
        if (sioIndex_ == 0x2E) { ecIndex_ = data; return; }
        if (ecIndex_ == 0x11) addr_ = (addr_ & 0xFF) | data << 8;
        else if (ecIndex_ == 0x10) addr_ = (addr_ & 0xFF00) | data;
        else if (ecIndex_ == 0x12) Write(addr_, static_cast<uint8_t>(data));
    }
    uint16_t InPortByte(uint16_t) override
    {
        if (absent)
            return 0xFF;
        if (addr_ != vyk::pd::PdCommand || ram[addr_] == 0)
            return ram[addr_];
        const uint8_t value = ram[addr_];
        if (!stuck && --busyLeft_ <= 0)
            ram[addr_] = 0;
        return value;
    }

private:
    void Write(uint16_t a, uint8_t v)
    {
        using namespace vyk::pd;
        if (a != PdCommand) { ram[a] = v; return; }
        if (ram[a] != 0)
            ++commandsWhileBusy;
        commands.push_back(v);
        if (commands.size() == stickAt)
            stuck = true;
        const uint32_t at = (ram[BlockAddrHigh] << 16 | ram[BlockAddrMid] << 8) % 0x40000;
        auto& f = flash[port - 1];
        if (v == CmdWriteBlock) std::copy_n(&ram[DataWindow], 256, f.begin() + at);
        if (v == CmdReadBlock) std::copy_n(f.begin() + at, 256, &ram[DataWindow]);
        if (v == CmdSelectPort1 || v == CmdSelectPort2) port = ram[PortSelect] + 1;
        ram[a] = v;
        busyLeft_ = busyReads;
    }
    uint16_t sioIndex_ = 0, ecIndex_ = 0, addr_ = 0;
    int busyLeft_ = 0;
};
