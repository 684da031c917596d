#include "pd/Mailbox.h"

#include "hw/WaitClock.h"

namespace vyk::pd {

bool Mailbox::IsBusy()
{
    return ec_.EcRamRead(PdCommand) != 0;
}

bool Mailbox::WaitIdle(std::chrono::steady_clock::duration bound)
{
    // Test first, look at the clock second: an EC that answers at once
    // costs one read and no clock call.
    if (!IsBusy())
        return true;
    const auto deadline = WaitNow() + bound;
    for (;;) {
        if (!IsBusy())
            return true;
        if (WaitNow() >= deadline)
            return false;
    }
}

StallWatch::StallWatch(std::chrono::steady_clock::duration bound) : bound_(bound) {}

bool StallWatch::Stalled(uint64_t mark)
{
    if (!marked_ || mark != mark_) {
        marked_ = true;
        mark_ = mark;
        since_ = WaitNow();
        return false;
    }
    return WaitNow() - since_ > bound_;
}

void Mailbox::IssueCommand(uint8_t command)
{
    ec_.EcRamWrite(PdCommand, command);
}

void Mailbox::WriteBlock(uint16_t block, const uint8_t* data)
{
    for (int i = 0; i < DataWindowSize; ++i)
        ec_.EcRamWrite(DataWindow + i, data[i]);
    ec_.EcRamWrite(BlockAddrHigh, block >> 8);
    ec_.EcRamWrite(BlockAddrMid, block & 0xFF);
    ec_.EcRamWrite(PdCommand, CmdWriteBlock);
}

void Mailbox::RequestBlockRead(uint16_t block)
{
    ec_.EcRamWrite(BlockAddrHigh, block >> 8);
    ec_.EcRamWrite(BlockAddrMid, block & 0xFF);
    ec_.EcRamWrite(PdCommand, CmdReadBlock);
}

void Mailbox::FetchBlock(uint8_t* out)
{
    for (int i = 0; i < DataWindowSize; ++i)
        out[i] = ec_.EcRamRead(DataWindow + i);
}

void Mailbox::FillWindow()
{
    for (int i = 0; i < DataWindowSize; ++i)
        ec_.EcRamWrite(DataWindow + i, 0xFF);
}

void Mailbox::SelectPort(PdPort port)
{
    const bool first = port == PdPort::Port1;
    ec_.EcRamWrite(PortSelect, first ? 0 : 1);
    ec_.EcRamWrite(PdCommand, first ? CmdSelectPort1 : CmdSelectPort2);
}

void Mailbox::ReadVersion(PdPort port, uint8_t* out)
{
    const uint16_t base = port == PdPort::Port1 ? Port1Version : Port2Version;
    for (int i = 0; i < VersionSize; ++i)
        out[i] = ec_.EcRamRead(base + i);
}

void Mailbox::SetPresence(bool on)
{
    ec_.EcRamWrite(HostActive, on ? 1 : 0);
}

void Mailbox::EcSetup()
{
    ec_.EcRamWrite(EcInitRegister, EcInitValue);
}

} // namespace vyk::pd
