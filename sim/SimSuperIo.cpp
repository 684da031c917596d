#include "sim/SimSuperIo.h"

namespace vyk::sim {

namespace {

// Its own reading of the ports, as SimEc has of the mailbox, so that a wrong
// constant on the host side shows up as a test failure.
constexpr uint16_t IndexPort = 0x4E;
constexpr uint16_t DataPort = 0x4F;
constexpr uint8_t RegEcIndex = 0x2E;
constexpr uint8_t RegEcData = 0x2F;
constexpr uint8_t EcRegAddrLow = 0x10;
constexpr uint8_t EcRegAddrHigh = 0x11;
constexpr uint8_t EcRegData = 0x12;

} // namespace

SimSuperIo::SimSuperIo(const Settings& settings, SimEc& ec, SimRecord& record)
    : settings_(settings), ec_(ec), record_(record)
{
}

void SimSuperIo::Out(uint16_t port, uint8_t v)
{
    if (record_.recording)
        record_.traffic.push_back({true, port, v});
    if (settings_.faults.noChip || settings_.faults.fixedReadBack >= 0)
        return;
    if (port == IndexPort)
        sioIndex_ = v;
    else if (port == DataPort)
        DataWrite(v);
    else
        record_.Violation(Format("write of 0x%02X to port 0x%04X, which nothing here decodes", v, port));
}

uint8_t SimSuperIo::In(uint16_t port)
{
    uint8_t v;
    if (settings_.faults.noChip) {
        v = 0xFF;
    } else if (settings_.faults.fixedReadBack >= 0) {
        v = static_cast<uint8_t>(settings_.faults.fixedReadBack);
    } else if (port == DataPort) {
        v = DataRead();
    } else if (port == IndexPort) {
        v = sioIndex_;
    } else {
        record_.Violation(Format("read of port 0x%04X, which nothing here decodes", port));
        v = 0xFF;
    }
    if (record_.recording)
        record_.traffic.push_back({false, port, v});
    return v;
}

void SimSuperIo::DataWrite(uint8_t v)
{
    switch (sioIndex_) {
    case RegEcIndex:
        ecReg_ = v;
        break;
    case RegEcData:
        switch (ecReg_) {
        case EcRegAddrLow: addrLow_ = v; break;
        case EcRegAddrHigh: addrHigh_ = v; break;
        case EcRegData: ec_.Write(static_cast<uint16_t>(addrHigh_ << 8 | addrLow_), v); break;
        default:
            record_.Violation(Format("EC-access register 0x%02X written; only 0x10, 0x11 and 0x12 exist", ecReg_));
        }
        break;
    default:
        sioRegs_[sioIndex_] = v;
        record_.Violation(Format("Super I/O register 0x%02X written; EC access uses only 0x2E and 0x2F", sioIndex_));
    }
}

uint8_t SimSuperIo::DataRead()
{
    switch (sioIndex_) {
    case RegEcIndex:
        return ecReg_;
    case RegEcData:
        switch (ecReg_) {
        case EcRegAddrLow: return addrLow_;
        case EcRegAddrHigh: return addrHigh_;
        case EcRegData: return ec_.Read(static_cast<uint16_t>(addrHigh_ << 8 | addrLow_));
        default:
            record_.Violation(Format("EC-access register 0x%02X read; only 0x10, 0x11 and 0x12 exist", ecReg_));
            return 0xFF;
        }
    default:
        record_.Violation(Format("Super I/O register 0x%02X read; EC access uses only 0x2E and 0x2F", sioIndex_));
        return sioRegs_[sioIndex_];
    }
}

} // namespace vyk::sim
