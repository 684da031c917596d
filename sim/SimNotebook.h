#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hw/IoPort.h"
#include "sim/SimFolder.h"

namespace vyk::sim {

inline constexpr uint32_t FlashSize = 0x40000;   // per PD controller, 0xFF when erased
inline constexpr uint32_t EcRamSize = 0x10000;

// How far the EC has walked a PD controller towards flashing mode. Block
// commands act only in Flashing, reached by CmdInit, CmdJumpBoot,
// CmdEnterFlash in that order; CmdValidate and CmdResetPd end it.
enum class EcMode { Normal, Init, Boot, Flashing };

struct Faults {
    bool stuckBusy = false;      // PdCommand never returns to 0
    // When not 0: this many block commands complete, counted from the
    // start; every later one keeps PdCommand busy for good.
    int stuckBusyAfterBlocks = 0;
    bool noChip = false;         // every port read gives 0xFF, writes go nowhere
    int fixedReadBack = -1;      // 0..255: no chip either, every port read gives this byte
    int ignoreWritesPort = 0;    // 1 or 2: that controller's flash ignores block writes
    bool corruptReads = false;   // a block read returns corruptAddress's byte inverted
    uint32_t corruptAddress = 0;
};

struct Settings {
    // Eight version bytes per controller, shown by the EC at 0xD220/0xD240.
    // The leading digit names the port, so a mix-up shows at a glance.
    std::array<std::array<uint8_t, 8>, 2> version{{
        {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17},
        {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27},
    }};
    // How long a command keeps PdCommand busy: this many busy tests see it
    // non-zero; or, when busyMicros is not 0, that much time after it was
    // written. Counted in busy tests, the commands the host never waits
    // for (CmdResetPd, the two selections) finish at once.
    int busyReads = 1;
    uint32_t busyMicros = 0;
    Faults faults;
    // When not 0: after this many block commands of a run the next one
    // stays busy while the file "paused" is in the folder (the EC makes it
    // as it pauses; delete it to go on). Lets a test act at a chosen block.
    int pauseAfterBlocks = 0;
    // The notebook's power as a tool reads it before flashing.
    bool acOnline = true;
    int batteryPercent = 100;
};

// Who the simulated notebook says it is, as a real one says in its
// firmware's SMBIOS tables.
struct MachineIdentity {
    std::string vendor, product, serial;
};

struct PortOp {
    bool isWrite;
    uint16_t port;
    uint8_t value;
};

struct EcAccess {
    bool isWrite;
    uint16_t address;
    uint8_t value;
};

// The stand-in for the notebook: a Super I/O chip at 0x4E/0x4F whose
// configuration registers 0x2E/0x2F reach the EC-access registers
// 0x10/0x11/0x12 in front of 64 KiB of EC RAM, an EC that serves the PD
// mailbox, and two PD controllers with their flash and version bytes.
class SimNotebook final : public vyk::IoPort {
public:
    // In memory only: erased flash, zeroed EC RAM.
    explicit SimNotebook(Settings settings = {});
    // Keeps the whole state in a folder, created with defaults where files
    // are missing: port1.bin, port2.bin (whole flash, raw), ecram.bin
    // (65,536 bytes) and settings.txt. Changes reach the files as they
    // happen, never as a half-written file. Throws std::runtime_error
    // with a clear message when the folder or a file is unusable.
    // The folder must exist and be a notebook folder or empty; it is locked
    // until the notebook is destroyed (PortFailure, or FolderInUse, when it
    // cannot be used). With VYKSIM_KILL_AT_PORT_OP=N in the environment the
    // process ends at once (SIGKILL) at its Nth port operation here, as a
    // kill from outside at that point would end it.
    static std::unique_ptr<SimNotebook> OpenFolder(const std::filesystem::path& dir);
    // A fresh notebook: the folder is made when missing, the notebook's
    // files are made anew; anything else in the folder is refused.
    static std::unique_ptr<SimNotebook> InitFolder(const std::filesystem::path& dir);
    // The notebook as its files show it now, while another program may be
    // using it: no lock, and nothing done to it reaches the files.
    static std::unique_ptr<SimNotebook> ViewFolder(const std::filesystem::path& dir);
    ~SimNotebook() override;

    SimNotebook(const SimNotebook&) = delete;
    SimNotebook& operator=(const SimNotebook&) = delete;

    void OutPortByte(uint16_t port, uint16_t data) override;
    uint16_t InPortByte(uint16_t port) override;

    // Settings and faults; change them freely between operations.
    Settings& GetSettings();
    // Writes settings.txt (folder-backed only).
    void SaveSettings();
    // One setting by its settings.txt key and value text ("busy_reads", "3");
    // throws std::runtime_error naming the key when either is bad.
    void ApplySetting(std::string_view key, std::string_view value);
    // settings.txt as it would be written now.
    std::string SettingsText() const;
    bool FolderBacked() const;
    // Vendor and product are fixed; the serial is the folder's own.
    MachineIdentity Identity() const;

    // port is 1 or 2.
    std::span<const uint8_t> Flash(int port) const;
    void WriteFlash(int port, uint32_t address, std::span<const uint8_t> bytes);
    uint8_t EcRamByte(uint16_t address) const;
    void SetEcRamByte(uint16_t address, uint8_t value);
    int SelectedPort() const;
    EcMode Mode() const;

    // Recording of the exact port traffic, the EC RAM accesses it made and
    // the commands the EC received; off until switched on.
    void SetRecording(bool on);
    const std::vector<PortOp>& PortTraffic() const;
    const std::vector<EcAccess>& EcAccesses() const;
    const std::vector<uint8_t>& Commands() const;
    // What a careful EC refused or found wrong (a block command outside
    // flashing mode, a command written while busy, ...), one text each.
    const std::vector<std::string>& Violations() const;
    void ClearRecords();

private:
    static std::unique_ptr<SimNotebook> Adopt(std::unique_ptr<SimFolder> folder, bool readOnly = false);
    struct State;
    std::unique_ptr<State> s_;
};

} // namespace vyk::sim
