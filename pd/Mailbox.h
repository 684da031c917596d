#pragma once
#include <chrono>
#include <cstdint>

#include "hw/EcRam.h"
#include "pd/PdPort.h"

namespace vyk::pd {

// The command mailbox the EC firmware keeps in EC RAM.
inline constexpr uint16_t EcInitRegister = 0x1060;
inline constexpr uint16_t HostActive = 0xD212;
inline constexpr uint16_t PdCommand = 0xD213;
inline constexpr uint16_t BlockAddrHigh = 0xD214;
inline constexpr uint16_t BlockAddrMid = 0xD215;
inline constexpr uint16_t PortSelect = 0xD218;
inline constexpr uint16_t Port1Version = 0xD220;
inline constexpr uint16_t Port2Version = 0xD240;
inline constexpr uint16_t DataWindow = 0xCC00;

inline constexpr int DataWindowSize = 256;
inline constexpr int VersionSize = 8;
inline constexpr uint8_t EcInitValue = 0x80;

inline constexpr uint8_t CmdInit = 0xA0;
inline constexpr uint8_t CmdJumpBoot = 0xA1;
inline constexpr uint8_t CmdEnterFlash = 0xA2;
inline constexpr uint8_t CmdWriteBlock = 0xA3;
inline constexpr uint8_t CmdValidate = 0xA4;
inline constexpr uint8_t CmdResetPd = 0xA5;
inline constexpr uint8_t CmdSelectPort1 = 0xA6;
inline constexpr uint8_t CmdReadBlock = 0xA7;
inline constexpr uint8_t CmdSelectPort2 = 0xA8;

// The other bound on the EC, for a run that polls it one tick at a time
// (a sequence driven back to back): stalled once what the run reports has
// not moved for the whole bound. A tick whose busy test reads busy moves
// nothing, so this is WaitIdle's bound spread over ticks.
class StallWatch {
public:
    explicit StallWatch(std::chrono::steady_clock::duration bound);
    // `mark`: anything that changes when the run moves (its state, its
    // block count). True once it has not changed for the bound.
    bool Stalled(uint64_t mark);

private:
    std::chrono::steady_clock::duration bound_;
    uint64_t mark_ = 0;
    bool marked_ = false;
    std::chrono::steady_clock::time_point since_{};
};

// One small operation per mailbox transaction, each a fixed series of EC
// RAM accesses; the command byte is always the last write.
class Mailbox {
public:
    explicit Mailbox(EcRam& ec) : ec_(ec) {}

    // Busy test: any non-zero PdCommand is busy, only 0 is idle.
    bool IsBusy();

    // Repeats the busy test back to back until it reads idle or the bound
    // has passed. The only place the host spins on the EC; returns false
    // when the EC stayed busy.
    bool WaitIdle(std::chrono::steady_clock::duration bound);

    void IssueCommand(uint8_t command);

    // 256 data bytes into the window, then the block number, then CmdWriteBlock.
    void WriteBlock(uint16_t block, const uint8_t* data);
    void RequestBlockRead(uint16_t block);
    // Only after the busy test has read idle following RequestBlockRead.
    void FetchBlock(uint8_t* out);
    void FillWindow();

    void SelectPort(PdPort port);
    void ReadVersion(PdPort port, uint8_t* out);

    void SetPresence(bool on);
    void EcSetup();

    EcRam& Ec() { return ec_; }

private:
    EcRam& ec_;
};

} // namespace vyk::pd
