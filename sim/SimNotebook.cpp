#include "sim/SimNotebook.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

#include "hw/WaitClock.h"
#include "sim/SimFolder.h"
#include "sim/SimSettings.h"

namespace vyk::sim {

namespace {

// The simulator keeps its own reading of the ports and the mailbox instead
// of sharing the host's constants, so a wrong constant on the host side
// shows up as a test failure rather than agreeing with itself.
constexpr uint16_t IndexPort = 0x4E;
constexpr uint16_t DataPort = 0x4F;
constexpr uint8_t RegEcIndex = 0x2E;
constexpr uint8_t RegEcData = 0x2F;
constexpr uint8_t EcRegAddrLow = 0x10;
constexpr uint8_t EcRegAddrHigh = 0x11;
constexpr uint8_t EcRegData = 0x12;

constexpr uint16_t RegPdCommand = 0xD213;
constexpr uint16_t RegBlockHigh = 0xD214;
constexpr uint16_t RegBlockMid = 0xD215;
constexpr uint16_t RegPortSelect = 0xD218;
constexpr uint16_t RegVersion1 = 0xD220;
constexpr uint16_t RegVersion2 = 0xD240;
constexpr uint16_t Window = 0xCC00;
constexpr uint32_t WindowSize = 256;

enum : uint8_t {
    Init = 0xA0,
    JumpBoot = 0xA1,
    EnterFlash = 0xA2,
    WriteBlock = 0xA3,
    Validate = 0xA4,
    ResetPd = 0xA5,
    SelectPort1 = 0xA6,
    ReadBlock = 0xA7,
    SelectPort2 = 0xA8,
};

constexpr size_t MaxViolations = 10000;

const char* CommandName(uint8_t c)
{
    switch (c) {
    case Init: return "CmdInit";
    case JumpBoot: return "CmdJumpBoot";
    case EnterFlash: return "CmdEnterFlash";
    case WriteBlock: return "CmdWriteBlock";
    case Validate: return "CmdValidate";
    case ResetPd: return "CmdResetPd";
    case SelectPort1: return "CmdSelectPort1";
    case ReadBlock: return "CmdReadBlock";
    case SelectPort2: return "CmdSelectPort2";
    default: return nullptr;
    }
}

std::string Describe(uint8_t c)
{
    char buf[48];
    const char* name = CommandName(c);
    std::snprintf(buf, sizeof buf, "%s (0x%02X)", name ? name : "command", c);
    return buf;
}

// The host never waits for these; a real EC has long finished them by the
// time the next mailbox write comes (a timer tick later at least).
bool Unwaited(uint8_t c) { return c == ResetPd || c == SelectPort1 || c == SelectPort2; }

int VersionIndex(uint16_t a)
{
    if (a >= RegVersion1 && a < RegVersion1 + 8)
        return 0;
    if (a >= RegVersion2 && a < RegVersion2 + 8)
        return 1;
    return -1;
}

bool IsParameter(uint16_t a)
{
    return (a >= Window && a < Window + WindowSize) || a == RegBlockHigh || a == RegBlockMid ||
           a == RegPortSelect;
}

// The port operation at which the process ends at once, as a kill from
// outside would end it: no destructor, no flush, no unlock. 0: never.
uint64_t KillAtPortOperation()
{
    const char* text = std::getenv("VYKSIM_KILL_AT_PORT_OP");
    return text ? std::strtoull(text, nullptr, 10) : 0;
}

[[noreturn]] void EndAtOnce()
{
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 137);
#else
    std::raise(SIGKILL);
#endif
    std::abort();
}

template <typename... Args> std::string Format(const char* fmt, Args... args)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

} // namespace

struct SimNotebook::State {
    Settings settings;
    std::array<std::vector<uint8_t>, 2> flash;
    std::vector<uint8_t> ram;

    // Super I/O front
    uint8_t sioIndex = 0;
    uint8_t ecReg = 0;
    uint8_t addrLow = 0;
    uint8_t addrHigh = 0;
    std::array<uint8_t, 256> sioRegs{};

    // EC
    EcMode mode = EcMode::Normal;
    int selectedPort = 1;
    bool pending = false;
    uint8_t pendingCmd = 0;
    int busyReadsLeft = 0;
    std::chrono::steady_clock::time_point due;
    bool parameterViolationTold = false;
    int blocksCompleted = 0;
    bool stuckHere = false;   // the pending command is one that never completes

    // Records
    bool recording = false;
    std::vector<PortOp> traffic;
    std::vector<EcAccess> accesses;
    std::vector<uint8_t> commands;
    std::vector<std::string> violations;

    // Port operations since the folder was opened, and the one that ends
    // the process (VYKSIM_KILL_AT_PORT_OP).
    uint64_t portOps = 0;
    uint64_t killAt = 0;

    void CountPortOperation()
    {
        if (killAt && ++portOps == killAt)
            EndAtOnce();
    }

    // Block commands received since the folder was opened, and whether the
    // one in hand waits for the folder's "paused" file to go.
    int blockCommands = 0;
    bool paused = false;

    // Folder
    std::unique_ptr<SimFolder> folder;
    bool readOnly = false;   // looked at only: nothing reaches the files
    std::string settingsText;   // settings.txt as last read or written
    uint32_t dirtyLow = EcRamSize;
    uint32_t dirtyHigh = 0;

    void Violation(std::string text)
    {
        if (violations.size() < MaxViolations)
            violations.push_back(std::move(text));
        else if (violations.size() == MaxViolations)
            violations.push_back("... further violations not recorded");
    }

    // ---- persistence ----

    bool Persisting() const { return folder && !readOnly; }

    void MarkDirty(uint32_t a)
    {
        if (!Persisting())
            return;
        if (a < dirtyLow)
            dirtyLow = a;
        if (a + 1 > dirtyHigh)
            dirtyHigh = a + 1;
    }

    void FlushRam()
    {
        if (!folder || dirtyLow >= dirtyHigh)
            return;
        folder->Write(SimFolder::EcRam, dirtyLow, ram.data() + dirtyLow, dirtyHigh - dirtyLow);
        dirtyLow = EcRamSize;
        dirtyHigh = 0;
    }

    // Only what changed is rewritten; the file's comments and order stay.
    void SaveState()
    {
        if (!Persisting())
            return;
        std::string text = UpdateSettingsText(settingsText, {settings, mode, selectedPort});
        if (text == settingsText)
            return;
        folder->WriteSettings(text);
        settingsText = std::move(text);
    }

    void SetMode(EcMode m)
    {
        if (mode == m)
            return;
        mode = m;
        SaveState();
    }

    // ---- the EC ----

    bool Stuck() const { return settings.faults.stuckBusy || stuckHere; }
    bool Timed() const { return settings.busyMicros != 0; }

    // A paused command goes on once the "paused" file has gone.
    bool Held()
    {
        if (paused && folder->HasFile("paused"))
            return true;
        paused = false;
        return false;
    }

    // A timed command finishes whether or not the host looks.
    void Poll()
    {
        if (pending && !Stuck() && Timed() && WaitNow() >= due && !Held())
            Complete();
    }

    void SettleUnwaited()
    {
        if (pending && !Stuck() && !Timed() && Unwaited(pendingCmd))
            Complete();
    }

    uint8_t ReadCommand()
    {
        if (!pending || Stuck() || Held())
            return ram[RegPdCommand];
        if (Timed())
            return ram[RegPdCommand]; // Poll() has already completed it when due
        if (busyReadsLeft > 0) {
            --busyReadsLeft;
            return ram[RegPdCommand];
        }
        Complete();
        return ram[RegPdCommand];
    }

    void WriteCommand(uint8_t c)
    {
        if (recording)
            commands.push_back(c);
        SettleUnwaited();
        if (ram[RegPdCommand] != 0) {
            Violation(Describe(c) + " written while PdCommand still reads busy (" +
                      Format("0x%02X", ram[RegPdCommand]) + "); the EC ignored it");
            return;
        }
        if (c == 0) {
            Violation("the host wrote 0 into PdCommand; only the EC clears it");
            return;
        }
        if (!CommandName(c)) {
            Violation(Format("unknown command 0x%02X refused", c));
            return;
        }
        pending = true;
        pendingCmd = c;
        parameterViolationTold = false;
        ram[RegPdCommand] = c;
        MarkDirty(RegPdCommand);
        busyReadsLeft = settings.busyReads;
        due = WaitNow() + std::chrono::microseconds(settings.busyMicros);
        if ((c == WriteBlock || c == ReadBlock) && Persisting() && settings.pauseAfterBlocks > 0 &&
            ++blockCommands == settings.pauseAfterBlocks + 1) {
            folder->MakeSignalFile("paused");
            paused = true;
        }
        const int stuckAfter = settings.faults.stuckBusyAfterBlocks;
        stuckHere = (c == WriteBlock || c == ReadBlock) && stuckAfter > 0 && blocksCompleted >= stuckAfter;
        // Counted in busy tests, time passes only when the host polls; it
        // never polls after these, so they finish at once.
        if (!Stuck() && !Timed() && !paused && (settings.busyReads <= 0 || Unwaited(c)))
            Complete();
        else
            FlushRam();
    }

    // The EC takes the parameters as they stand now, then clears PdCommand.
    void Complete()
    {
        const uint8_t c = pendingCmd;
        pending = false;
        if (c == WriteBlock || c == ReadBlock)
            ++blocksCompleted;
        Execute(c);
        ram[RegPdCommand] = 0;
        MarkDirty(RegPdCommand);
        FlushRam();
    }

    void Execute(uint8_t c)
    {
        switch (c) {
        case Init:
            SetMode(EcMode::Init);
            break;
        case JumpBoot:
            if (mode != EcMode::Init)
                Violation(Describe(c) + Format(" refused: port %d is in %s mode; it must follow CmdInit",
                                               selectedPort, EcModeName(mode)));
            else
                SetMode(EcMode::Boot);
            break;
        case EnterFlash:
            if (mode != EcMode::Boot)
                Violation(Describe(c) + Format(" refused: port %d is in %s mode; it must follow CmdJumpBoot",
                                               selectedPort, EcModeName(mode)));
            else
                SetMode(EcMode::Flashing);
            break;
        case WriteBlock:
        case ReadBlock:
            BlockCommand(c);
            break;
        case Validate:
            if (mode != EcMode::Flashing)
                Violation(Describe(c) + Format(" outside flashing mode (port %d is in %s mode)",
                                               selectedPort, EcModeName(mode)));
            SetMode(EcMode::Normal);
            break;
        case ResetPd:
            SetMode(EcMode::Normal);
            break;
        case SelectPort1:
        case SelectPort2:
            Select(c);
            break;
        }
    }

    void BlockCommand(uint8_t c)
    {
        const unsigned block = ram[RegBlockHigh] << 8 | ram[RegBlockMid];
        const uint32_t address = block * WindowSize;
        if (mode != EcMode::Flashing) {
            Violation(Describe(c) + Format(" for block 0x%04X refused: port %d is in %s mode; block "
                                           "commands need CmdInit, CmdJumpBoot, CmdEnterFlash first",
                                           block, selectedPort, EcModeName(mode)));
            return;
        }
        if (address + WindowSize > FlashSize) {
            Violation(Describe(c) + Format(" for block 0x%04X refused: flash address 0x%06X lies "
                                           "beyond the 0x%X-byte flash",
                                           block, address, FlashSize));
            return;
        }
        std::vector<uint8_t>& f = flash[selectedPort - 1];
        if (c == WriteBlock) {
            if (settings.faults.ignoreWritesPort == selectedPort)
                return;
            std::copy(ram.begin() + Window, ram.begin() + Window + WindowSize, f.begin() + address);
            if (Persisting())
                folder->Write(selectedPort == 1 ? SimFolder::Port1 : SimFolder::Port2, address,
                              f.data() + address, WindowSize);
        } else {
            std::copy(f.begin() + address, f.begin() + address + WindowSize, ram.begin() + Window);
            const Faults& faults = settings.faults;
            if (faults.corruptReads && faults.corruptAddress / WindowSize == block)
                ram[Window + faults.corruptAddress % WindowSize] ^= 0xFF;
            MarkDirty(Window);
            MarkDirty(Window + WindowSize - 1);
        }
    }

    void Select(uint8_t c)
    {
        const uint8_t named = ram[RegPortSelect];
        if (named > 1) {
            Violation(Describe(c) + Format(" refused: PortSelect holds 0x%02X, which names no port", named));
            return;
        }
        const int port = named + 1;
        if ((c == SelectPort1) != (port == 1))
            Violation(Describe(c) + Format(" sent with PortSelect %d; the EC follows PortSelect", named));
        if (port != selectedPort) {
            // Another controller: whatever mode the old one was walked into
            // does not carry over.
            selectedPort = port;
            mode = EcMode::Normal;
            SaveState();
        }
    }

    uint8_t EcRead(uint16_t a)
    {
        Poll();
        uint8_t v;
        if (a == RegPdCommand) {
            v = ReadCommand();
        } else if (const int port = VersionIndex(a); port >= 0) {
            v = settings.version[port][a & 7];
            if (ram[a] != v) {
                ram[a] = v;
                MarkDirty(a);
                FlushRam();
            }
        } else {
            v = ram[a];
        }
        if (recording)
            accesses.push_back({false, a, v});
        return v;
    }

    void EcWrite(uint16_t a, uint8_t v)
    {
        Poll();
        if (recording)
            accesses.push_back({true, a, v});
        if (a == RegPdCommand) {
            WriteCommand(v);
            return;
        }
        if (VersionIndex(a) >= 0) {
            Violation(Format("the host wrote 0x%02X to version byte 0x%04X; the EC keeps those, "
                             "nothing changed",
                             v, a));
            return;
        }
        if (IsParameter(a)) {
            SettleUnwaited();
            if (ram[RegPdCommand] != 0 && !parameterViolationTold) {
                parameterViolationTold = true;
                Violation(Format("mailbox byte 0x%04X written while PdCommand reads busy (0x%02X)", a,
                                 ram[RegPdCommand]));
            }
        }
        ram[a] = v;
        MarkDirty(a);
        // The window is written 256 bytes at a time: it reaches the file with
        // the command that follows it, every other byte at once.
        if (a < Window || a >= Window + WindowSize)
            FlushRam();
    }

    // ---- Super I/O ----

    void DataWrite(uint8_t v)
    {
        switch (sioIndex) {
        case RegEcIndex:
            ecReg = v;
            break;
        case RegEcData:
            switch (ecReg) {
            case EcRegAddrLow: addrLow = v; break;
            case EcRegAddrHigh: addrHigh = v; break;
            case EcRegData: EcWrite(static_cast<uint16_t>(addrHigh << 8 | addrLow), v); break;
            default:
                Violation(Format("EC-access register 0x%02X written; only 0x10, 0x11 and 0x12 exist", ecReg));
            }
            break;
        default:
            sioRegs[sioIndex] = v;
            Violation(Format("Super I/O register 0x%02X written; EC access uses only 0x2E and 0x2F", sioIndex));
        }
    }

    uint8_t DataRead()
    {
        switch (sioIndex) {
        case RegEcIndex:
            return ecReg;
        case RegEcData:
            switch (ecReg) {
            case EcRegAddrLow: return addrLow;
            case EcRegAddrHigh: return addrHigh;
            case EcRegData: return EcRead(static_cast<uint16_t>(addrHigh << 8 | addrLow));
            default:
                Violation(Format("EC-access register 0x%02X read; only 0x10, 0x11 and 0x12 exist", ecReg));
                return 0xFF;
            }
        default:
            Violation(Format("Super I/O register 0x%02X read; EC access uses only 0x2E and 0x2F", sioIndex));
            return sioRegs[sioIndex];
        }
    }
};

SimNotebook::SimNotebook(Settings settings) : s_(std::make_unique<State>())
{
    s_->settings = settings;
    s_->flash[0].assign(FlashSize, 0xFF);
    s_->flash[1].assign(FlashSize, 0xFF);
    s_->ram.assign(EcRamSize, 0);
    for (int i = 0; i < 8; ++i) {
        s_->ram[RegVersion1 + i] = settings.version[0][i];
        s_->ram[RegVersion2 + i] = settings.version[1][i];
    }
}

std::unique_ptr<SimNotebook> SimNotebook::OpenFolder(const std::filesystem::path& dir)
{
    return Adopt(std::make_unique<SimFolder>(dir, SimFolder::Mode::Existing));
}

std::unique_ptr<SimNotebook> SimNotebook::InitFolder(const std::filesystem::path& dir)
{
    return Adopt(std::make_unique<SimFolder>(dir, SimFolder::Mode::Init));
}

std::unique_ptr<SimNotebook> SimNotebook::ViewFolder(const std::filesystem::path& dir)
{
    return Adopt(std::make_unique<SimFolder>(dir, SimFolder::Mode::ReadOnly), true);
}

std::unique_ptr<SimNotebook> SimNotebook::Adopt(std::unique_ptr<SimFolder> folder, bool readOnly)
{
    auto nb = std::make_unique<SimNotebook>();
    State& s = *nb->s_;
    s.readOnly = readOnly;
    s.killAt = readOnly ? 0 : KillAtPortOperation();

    SimSettingsFile file{s.settings, EcMode::Normal, 1};
    std::string text = folder->ReadSettings();
    const bool haveSettings = std::filesystem::exists(folder->SettingsPath());
    ParseSettingsText(text, folder->SettingsPath().string(), file);

    s.flash[0] = folder->OpenBin(SimFolder::Port1, FlashSize, 0xFF);
    s.flash[1] = folder->OpenBin(SimFolder::Port2, FlashSize, 0xFF);
    s.ram = folder->OpenBin(SimFolder::EcRam, EcRamSize, 0x00);
    s.folder = std::move(folder);
    s.settings = file.settings;
    s.mode = file.mode;
    s.selectedPort = file.selectedPort;
    if (haveSettings) {
        s.settingsText = std::move(text);
    } else {
        s.settingsText = FormatSettingsText(file);
        if (!readOnly)
            s.folder->WriteSettings(s.settingsText);
    }

    for (int i = 0; i < 8; ++i) {
        for (int p = 0; p < 2; ++p) {
            const uint16_t a = (p ? RegVersion2 : RegVersion1) + i;
            if (s.ram[a] != s.settings.version[p][i]) {
                s.ram[a] = s.settings.version[p][i];
                s.MarkDirty(a);
            }
        }
    }
    s.FlushRam();

    // A command left busy by an earlier run (a stuck EC, a killed process)
    // is still the EC's work in hand.
    if (s.ram[RegPdCommand] != 0 && CommandName(s.ram[RegPdCommand])) {
        s.pending = true;
        s.pendingCmd = s.ram[RegPdCommand];
        s.busyReadsLeft = s.settings.busyReads;
        s.due = WaitNow() + std::chrono::microseconds(s.settings.busyMicros);
    }
    return nb;
}

SimNotebook::~SimNotebook()
{
    // The EC finishes what it was given even when the host has gone.
    try {
        if (s_->pending && !s_->Stuck())
            s_->Complete();
        s_->FlushRam();
    } catch (...) {
    }
}

void SimNotebook::OutPortByte(uint16_t port, uint16_t data)
{
    State& s = *s_;
    s.CountPortOperation();
    const uint8_t v = static_cast<uint8_t>(data & 0xFF);
    if (s.recording)
        s.traffic.push_back({true, port, v});
    if (s.settings.faults.noChip || s.settings.faults.fixedReadBack >= 0)
        return;
    if (port == IndexPort)
        s.sioIndex = v;
    else if (port == DataPort)
        s.DataWrite(v);
    else
        s.Violation(Format("write of 0x%02X to port 0x%04X, which nothing here decodes", v, port));
}

uint16_t SimNotebook::InPortByte(uint16_t port)
{
    State& s = *s_;
    s.CountPortOperation();
    uint8_t v;
    if (s.settings.faults.noChip) {
        v = 0xFF;
    } else if (s.settings.faults.fixedReadBack >= 0) {
        v = static_cast<uint8_t>(s.settings.faults.fixedReadBack);
    } else if (port == DataPort) {
        v = s.DataRead();
    } else if (port == IndexPort) {
        v = s.sioIndex;
    } else {
        s.Violation(Format("read of port 0x%04X, which nothing here decodes", port));
        v = 0xFF;
    }
    if (s.recording)
        s.traffic.push_back({false, port, v});
    return v;
}

Settings& SimNotebook::GetSettings() { return s_->settings; }

void SimNotebook::SaveSettings() { s_->SaveState(); }

void SimNotebook::ApplySetting(std::string_view key, std::string_view value)
{
    SimSettingsFile file{s_->settings, s_->mode, s_->selectedPort};
    ApplySettingValue(file, key, value, "setting");
    s_->settings = file.settings;
    s_->mode = file.mode;
    s_->selectedPort = file.selectedPort;
}

std::string SimNotebook::SettingsText() const
{
    return FormatSettingsText({s_->settings, s_->mode, s_->selectedPort});
}

bool SimNotebook::FolderBacked() const { return s_->folder != nullptr; }

MachineIdentity SimNotebook::Identity() const
{
    return {"VYK_UU", "Simulated notebook", s_->folder ? s_->folder->Serial() : "SIM-IN-MEMORY"};
}

static int PortIndex(int port)
{
    if (port != 1 && port != 2)
        throw std::invalid_argument("simulated notebook: PD port " + std::to_string(port) +
                                    " does not exist (1 or 2)");
    return port - 1;
}

std::span<const uint8_t> SimNotebook::Flash(int port) const { return s_->flash[PortIndex(port)]; }

void SimNotebook::WriteFlash(int port, uint32_t address, std::span<const uint8_t> bytes)
{
    const int i = PortIndex(port);
    if (address > FlashSize || bytes.size() > FlashSize - address)
        throw std::out_of_range("simulated notebook: flash write beyond the 0x40000-byte flash");
    std::copy(bytes.begin(), bytes.end(), s_->flash[i].begin() + address);
    if (s_->Persisting())
        s_->folder->Write(i ? SimFolder::Port2 : SimFolder::Port1, address, bytes.data(), bytes.size());
}

uint8_t SimNotebook::EcRamByte(uint16_t address) const
{
    if (const int p = VersionIndex(address); p >= 0)
        return s_->settings.version[p][address & 7];
    return s_->ram[address];
}

void SimNotebook::SetEcRamByte(uint16_t address, uint8_t value)
{
    State& s = *s_;
    if (const int p = VersionIndex(address); p >= 0)
        s.settings.version[p][address & 7] = value;
    // A preset PdCommand is not work in hand: it simply reads so until the
    // host's next command is refused for it or the test clears it.
    if (address == RegPdCommand)
        s.pending = false;
    s.ram[address] = value;
    s.MarkDirty(address);
    s.FlushRam();
}

int SimNotebook::SelectedPort() const { return s_->selectedPort; }
EcMode SimNotebook::Mode() const { return s_->mode; }

void SimNotebook::SetRecording(bool on) { s_->recording = on; }
const std::vector<PortOp>& SimNotebook::PortTraffic() const { return s_->traffic; }
const std::vector<EcAccess>& SimNotebook::EcAccesses() const { return s_->accesses; }
const std::vector<uint8_t>& SimNotebook::Commands() const { return s_->commands; }
const std::vector<std::string>& SimNotebook::Violations() const { return s_->violations; }

void SimNotebook::ClearRecords()
{
    s_->traffic.clear();
    s_->accesses.clear();
    s_->commands.clear();
    s_->violations.clear();
}

} // namespace vyk::sim
