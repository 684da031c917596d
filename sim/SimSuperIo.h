#pragma once
#include <array>
#include <cstdint>

#include "sim/SimEc.h"
#include "sim/SimNotebook.h"
#include "sim/SimRecord.h"

namespace vyk::sim {

// The Super I/O chip at 0x4E/0x4F: its configuration registers 0x2E/0x2F
// reach the EC-access registers 0x10/0x11/0x12, which address one EC RAM
// byte and carry it. A missing chip (the no_chip fault) answers every read
// with the same byte and takes no write.
class SimSuperIo {
public:
    SimSuperIo(const Settings& settings, SimEc& ec, SimRecord& record);

    void Out(uint16_t port, uint8_t value);
    uint8_t In(uint16_t port);

private:
    void DataWrite(uint8_t v);
    uint8_t DataRead();

    const Settings& settings_;
    SimEc& ec_;
    SimRecord& record_;
    uint8_t sioIndex_ = 0;
    uint8_t ecReg_ = 0;
    uint8_t addrLow_ = 0;
    uint8_t addrHigh_ = 0;
    std::array<uint8_t, 256> sioRegs_{};
};

} // namespace vyk::sim
