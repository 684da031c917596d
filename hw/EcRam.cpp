#include "hw/EcRam.h"

namespace vyk {

void EcRam::SioWrite(unsigned reg, unsigned value)
{
    if (!PortReady())
        return;
    io_->OutPortByte(SioIndexPort, reg & 0xFF);
    io_->OutPortByte(SioDataPort(), value & 0xFF);
}

int EcRam::SioRead(unsigned reg)
{
    if (!PortReady())
        return 0;
    io_->OutPortByte(SioIndexPort, reg & 0xFF);
    return static_cast<int16_t>(io_->InPortByte(SioDataPort()));
}

// High byte first, then low byte, then point the data register at EC RAM.
void EcRam::SelectAddress(unsigned address)
{
    SioWrite(SioEcIndex, EcAddrHighReg);
    SioWrite(SioEcData, (address >> 8) & 0xFF);
    SioWrite(SioEcIndex, EcAddrLowReg);
    SioWrite(SioEcData, address & 0xFF);
    SioWrite(SioEcIndex, EcDataReg);
}

void EcRam::EcRamWrite(unsigned address, unsigned value)
{
    SelectAddress(address);
    SioWrite(SioEcData, value);
}

uint8_t EcRam::EcRamRead(unsigned address)
{
    SelectAddress(address);
    return static_cast<uint8_t>(SioRead(SioEcData) & 0xFF);
}

} // namespace vyk
