#include "sim/SimEc.h"

#include <algorithm>
#include <string>

#include "hw/WaitClock.h"

namespace vyk::sim {

namespace {

// The simulator keeps its own reading of the mailbox instead of sharing the
// host's constants, so a wrong constant on the host side shows up as a test
// failure rather than agreeing with itself.
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

bool IsBlockCommand(uint8_t c) { return c == WriteBlock || c == ReadBlock; }

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

} // namespace

SimEc::SimEc(Settings& settings, SimStore& store, SimRecord& record)
    : settings_(settings), store_(store), record_(record), ram_(store.Ram())
{
}

// ---- the host's side ----

uint8_t SimEc::Read(uint16_t a)
{
    Poll();
    uint8_t v;
    if (a == RegPdCommand) {
        v = ReadCommand();
    } else if (const int port = VersionIndex(a); port >= 0) {
        v = settings_.version[port][a & 7];
        if (ram_[a] != v) {
            ram_[a] = v;
            store_.MarkDirty(a);
            store_.FlushRam();
        }
    } else {
        v = ram_[a];
    }
    if (record_.recording)
        record_.accesses.push_back({false, a, v});
    return v;
}

void SimEc::Write(uint16_t a, uint8_t v)
{
    Poll();
    if (record_.recording)
        record_.accesses.push_back({true, a, v});
    if (a == RegPdCommand) {
        WriteCommand(v);
        return;
    }
    if (VersionIndex(a) >= 0) {
        record_.Violation(Format("the host wrote 0x%02X to version byte 0x%04X; the EC keeps those, "
                                 "nothing changed",
                                 v, a));
        return;
    }
    if (IsParameter(a)) {
        SettleUnwaited();
        if (ram_[RegPdCommand] != 0 && !parameterViolationTold_) {
            parameterViolationTold_ = true;
            record_.Violation(Format("mailbox byte 0x%04X written while PdCommand reads busy (0x%02X)", a,
                                     ram_[RegPdCommand]));
        }
    }
    ram_[a] = v;
    store_.MarkDirty(a);
    // The window is written 256 bytes at a time: it reaches the file with
    // the command that follows it, every other byte at once.
    if (a < Window || a >= Window + WindowSize)
        store_.FlushRam();
}

// ---- outside the host's view ----

uint8_t SimEc::Peek(uint16_t address) const
{
    if (const int p = VersionIndex(address); p >= 0)
        return settings_.version[p][address & 7];
    return ram_[address];
}

void SimEc::Poke(uint16_t address, uint8_t value)
{
    if (const int p = VersionIndex(address); p >= 0)
        settings_.version[p][address & 7] = value;
    // A preset PdCommand is not work in hand: it simply reads so until the
    // host's next command is refused for it or the test clears it.
    if (address == RegPdCommand)
        pending_ = false;
    ram_[address] = value;
    store_.MarkDirty(address);
    store_.FlushRam();
}

void SimEc::ShowVersions()
{
    for (int i = 0; i < 8; ++i) {
        for (int p = 0; p < 2; ++p) {
            const uint16_t a = (p ? RegVersion2 : RegVersion1) + i;
            if (ram_[a] != settings_.version[p][i]) {
                ram_[a] = settings_.version[p][i];
                store_.MarkDirty(a);
            }
        }
    }
}

void SimEc::TakeUpLeftCommand()
{
    if (ram_[RegPdCommand] != 0 && CommandName(ram_[RegPdCommand])) {
        pending_ = true;
        pendingCmd_ = ram_[RegPdCommand];
        busyReadsLeft_ = settings_.busyReads;
        due_ = WaitNow() + std::chrono::microseconds(settings_.busyMicros);
    }
}

void SimEc::FinishWorkInHand()
{
    if (pending_ && !Stuck())
        Complete();
    store_.FlushRam();
}

void SimEc::SetState(EcMode mode, int selectedPort)
{
    mode_ = mode;
    selectedPort_ = selectedPort;
}

void SimEc::SaveState() { store_.SaveSettings(FileState()); }

void SimEc::SetMode(EcMode m)
{
    if (mode_ == m)
        return;
    mode_ = m;
    SaveState();
}

// ---- the command engine ----

bool SimEc::Stuck() const { return settings_.faults.stuckBusy || stuckHere_; }
bool SimEc::Timed() const { return settings_.busyMicros != 0; }

// A paused command goes on once the "paused" file has gone.
bool SimEc::Held()
{
    if (paused_ && store_.HasFile("paused"))
        return true;
    paused_ = false;
    return false;
}

// A timed command finishes whether or not the host looks.
void SimEc::Poll()
{
    if (pending_ && !Stuck() && Timed() && WaitNow() >= due_ && !Held())
        Complete();
}

void SimEc::SettleUnwaited()
{
    if (pending_ && !Stuck() && !Timed() && Unwaited(pendingCmd_))
        Complete();
}

uint8_t SimEc::ReadCommand()
{
    if (!pending_ || Stuck() || Held())
        return ram_[RegPdCommand];
    if (Timed())
        return ram_[RegPdCommand]; // Poll() has already completed it when due
    if (busyReadsLeft_ > 0) {
        --busyReadsLeft_;
        return ram_[RegPdCommand];
    }
    Complete();
    return ram_[RegPdCommand];
}

void SimEc::WriteCommand(uint8_t c)
{
    if (record_.recording)
        record_.commands.push_back(c);
    SettleUnwaited();
    if (ram_[RegPdCommand] != 0) {
        record_.Violation(Describe(c) + " written while PdCommand still reads busy (" +
                          Format("0x%02X", ram_[RegPdCommand]) + "); the EC ignored it");
        return;
    }
    if (c == 0) {
        record_.Violation("the host wrote 0 into PdCommand; only the EC clears it");
        return;
    }
    if (!CommandName(c)) {
        record_.Violation(Format("unknown command 0x%02X refused", c));
        return;
    }
    pending_ = true;
    pendingCmd_ = c;
    parameterViolationTold_ = false;
    ram_[RegPdCommand] = c;
    store_.MarkDirty(RegPdCommand);
    busyReadsLeft_ = settings_.busyReads;
    due_ = WaitNow() + std::chrono::microseconds(settings_.busyMicros);
    if (IsBlockCommand(c) && store_.Persisting() && settings_.pauseAfterBlocks > 0 &&
        ++blockCommands_ == settings_.pauseAfterBlocks + 1) {
        store_.MakeSignalFile("paused");
        paused_ = true;
    }
    const int stuckAfter = settings_.faults.stuckBusyAfterBlocks;
    stuckHere_ = IsBlockCommand(c) && stuckAfter > 0 && blocksCompleted_ >= stuckAfter;
    // Counted in busy tests, time passes only when the host polls; it
    // never polls after these, so they finish at once.
    if (!Stuck() && !Timed() && !paused_ && (settings_.busyReads <= 0 || Unwaited(c)))
        Complete();
    else
        store_.FlushRam();
}

// The EC takes the parameters as they stand now, then clears PdCommand.
void SimEc::Complete()
{
    const uint8_t c = pendingCmd_;
    pending_ = false;
    if (IsBlockCommand(c))
        ++blocksCompleted_;
    Execute(c);
    ram_[RegPdCommand] = 0;
    store_.MarkDirty(RegPdCommand);
    store_.FlushRam();
}

void SimEc::Execute(uint8_t c)
{
    switch (c) {
    case Init:
        SetMode(EcMode::Init);
        break;
    case JumpBoot:
        if (mode_ != EcMode::Init)
            record_.Violation(Describe(c) + Format(" refused: port %d is in %s mode; it must follow CmdInit",
                                                   selectedPort_, EcModeName(mode_)));
        else
            SetMode(EcMode::Boot);
        break;
    case EnterFlash:
        if (mode_ != EcMode::Boot)
            record_.Violation(Describe(c) + Format(" refused: port %d is in %s mode; it must follow CmdJumpBoot",
                                                   selectedPort_, EcModeName(mode_)));
        else
            SetMode(EcMode::Flashing);
        break;
    case WriteBlock:
    case ReadBlock:
        BlockCommand(c);
        break;
    case Validate:
        if (mode_ != EcMode::Flashing)
            record_.Violation(Describe(c) + Format(" outside flashing mode (port %d is in %s mode)",
                                                   selectedPort_, EcModeName(mode_)));
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

void SimEc::BlockCommand(uint8_t c)
{
    const unsigned block = ram_[RegBlockHigh] << 8 | ram_[RegBlockMid];
    const uint32_t address = block * WindowSize;
    if (mode_ != EcMode::Flashing) {
        record_.Violation(Describe(c) + Format(" for block 0x%04X refused: port %d is in %s mode; block "
                                               "commands need CmdInit, CmdJumpBoot, CmdEnterFlash first",
                                               block, selectedPort_, EcModeName(mode_)));
        return;
    }
    if (address + WindowSize > FlashSize) {
        record_.Violation(Describe(c) + Format(" for block 0x%04X refused: flash address 0x%06X lies "
                                               "beyond the 0x%X-byte flash",
                                               block, address, FlashSize));
        return;
    }
    const int index = selectedPort_ - 1;
    if (c == WriteBlock) {
        if (settings_.faults.ignoreWritesPort == selectedPort_)
            return;
        store_.WriteFlash(index, address, ram_.data() + Window, WindowSize);
    } else {
        const std::vector<uint8_t>& f = store_.Flash(index);
        std::copy(f.begin() + address, f.begin() + address + WindowSize, ram_.begin() + Window);
        const Faults& faults = settings_.faults;
        if (faults.corruptReads && faults.corruptAddress / WindowSize == block)
            ram_[Window + faults.corruptAddress % WindowSize] ^= 0xFF;
        store_.MarkDirty(Window);
        store_.MarkDirty(Window + WindowSize - 1);
    }
}

void SimEc::Select(uint8_t c)
{
    const uint8_t named = ram_[RegPortSelect];
    if (named > 1) {
        record_.Violation(Describe(c) + Format(" refused: PortSelect holds 0x%02X, which names no port", named));
        return;
    }
    const int port = named + 1;
    if ((c == SelectPort1) != (port == 1))
        record_.Violation(Describe(c) + Format(" sent with PortSelect %d; the EC follows PortSelect", named));
    if (port != selectedPort_) {
        // Another controller: whatever mode the old one was walked into
        // does not carry over.
        selectedPort_ = port;
        mode_ = EcMode::Normal;
        SaveState();
    }
}

} // namespace vyk::sim
