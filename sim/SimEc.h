#pragma once
#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/SimNotebook.h"
#include "sim/SimRecord.h"
#include "sim/SimSettings.h"
#include "sim/SimStore.h"

namespace vyk::sim {

// The EC behind the Super I/O: its RAM as the host reads and writes it, the
// PD mailbox's command engine with its busy time and faults, and the walk of
// the selected PD controller towards flashing mode and back.
class SimEc {
public:
    SimEc(Settings& settings, SimStore& store, SimRecord& record);

    // One EC RAM byte, as the host reaches it through the Super I/O.
    uint8_t Read(uint16_t address);
    void Write(uint16_t address, uint8_t value);

    // The same without the EC's part: what the RAM holds (the version bytes
    // as the settings give them), and a byte set as a test wants it.
    uint8_t Peek(uint16_t address) const;
    void Poke(uint16_t address, uint8_t value);

    // The version bytes of the settings into EC RAM.
    void ShowVersions();
    // After an open: a command left busy by an earlier run (a stuck EC, a
    // killed process) is still the EC's work in hand.
    void TakeUpLeftCommand();
    // The EC finishes what it was given even when the host has gone.
    void FinishWorkInHand();

    EcMode Mode() const { return mode_; }
    int SelectedPort() const { return selectedPort_; }
    void SetState(EcMode mode, int selectedPort);
    SimSettingsFile FileState() const { return {settings_, mode_, selectedPort_}; }
    // settings.txt brought up to the settings and this state.
    void SaveState();

private:
    bool Stuck() const;
    bool Timed() const;
    bool Held();
    void Poll();
    void SettleUnwaited();
    uint8_t ReadCommand();
    void WriteCommand(uint8_t c);
    void Complete();
    void Execute(uint8_t c);
    void BlockCommand(uint8_t c);
    void Select(uint8_t c);
    void SetMode(EcMode m);

    Settings& settings_;
    SimStore& store_;
    SimRecord& record_;
    std::vector<uint8_t>& ram_;

    EcMode mode_ = EcMode::Normal;
    int selectedPort_ = 1;
    bool pending_ = false;
    uint8_t pendingCmd_ = 0;
    int busyReadsLeft_ = 0;
    std::chrono::steady_clock::time_point due_;
    bool parameterViolationTold_ = false;
    int blocksCompleted_ = 0;
    bool stuckHere_ = false;   // the pending command is one that never completes
    // Block commands received since the folder was opened, and whether the
    // one in hand waits for the folder's "paused" file to go.
    int blockCommands_ = 0;
    bool paused_ = false;
};

} // namespace vyk::sim
