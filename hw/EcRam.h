#pragma once
#include <cstdint>

#include "hw/IoPort.h"

namespace vyk {

// Single bytes of EC RAM through the Super I/O index/data pair and the
// EC-access registers behind it. Every access sends both address bytes
// again; the EC gives no status, so nothing here can fail.
class EcRam {
public:
    static constexpr uint16_t SioIndexPort = 0x004E;
    static constexpr uint8_t SioEcIndex = 0x2E;
    static constexpr uint8_t SioEcData = 0x2F;
    static constexpr uint8_t EcAddrLowReg = 0x10;
    static constexpr uint8_t EcAddrHighReg = 0x11;
    static constexpr uint8_t EcDataReg = 0x12;

    static constexpr uint16_t SioDataPort() { return SioIndexPort + 1; }

    EcRam() = default;
    explicit EcRam(IoPort* io) { Bind(io); }

    // Decided once at start: with no port access every write is dropped
    // and every read gives 0, without touching a port.
    void Bind(IoPort* io) { io_ = io; }
    bool PortReady() const { return io_ != nullptr; }

    void SioWrite(unsigned reg, unsigned value);
    int SioRead(unsigned reg);

    void EcRamWrite(unsigned address, unsigned value);
    uint8_t EcRamRead(unsigned address);

private:
    void SelectAddress(unsigned address);

    IoPort* io_ = nullptr;
};

} // namespace vyk
