#include "sim/SimNotebook.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

#include "sim/SimEc.h"
#include "sim/SimFolder.h"
#include "sim/SimRecord.h"
#include "sim/SimSettings.h"
#include "sim/SimStore.h"
#include "sim/SimSuperIo.h"

namespace vyk::sim {

namespace {

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

} // namespace

// The notebook's parts, each wired to those it reaches: the ports reach the
// Super I/O, which reaches the EC, which keeps its memory in the store.
struct SimNotebook::State {
    Settings settings;
    SimStore store;
    SimRecord record;
    SimEc ec{settings, store, record};
    SimSuperIo superIo{settings, ec, record};

    // Port operations since the folder was opened, and the one that ends
    // the process (VYKSIM_KILL_AT_PORT_OP).
    uint64_t portOps = 0;
    uint64_t killAt = 0;

    void CountPortOperation()
    {
        if (killAt && ++portOps == killAt)
            EndAtOnce();
    }
};

SimNotebook::SimNotebook(Settings settings) : s_(std::make_unique<State>())
{
    s_->settings = settings;
    s_->ec.ShowVersions();
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
    const SimSettingsFile file = s.store.Load(std::move(folder), readOnly, s.ec.FileState());
    s.settings = file.settings;
    s.ec.SetState(file.mode, file.selectedPort);
    s.killAt = readOnly ? 0 : KillAtPortOperation();
    s.ec.ShowVersions();
    s.store.FlushRam();
    s.ec.TakeUpLeftCommand();
    return nb;
}

SimNotebook::~SimNotebook()
{
    try {
        s_->ec.FinishWorkInHand();
    } catch (...) {
    }
}

void SimNotebook::OutPortByte(uint16_t port, uint16_t data)
{
    s_->CountPortOperation();
    s_->superIo.Out(port, static_cast<uint8_t>(data & 0xFF));
}

uint16_t SimNotebook::InPortByte(uint16_t port)
{
    s_->CountPortOperation();
    return s_->superIo.In(port);
}

Settings& SimNotebook::GetSettings() { return s_->settings; }

void SimNotebook::SaveSettings() { s_->ec.SaveState(); }

void SimNotebook::ApplySetting(std::string_view key, std::string_view value)
{
    SimSettingsFile file = s_->ec.FileState();
    ApplySettingValue(file, key, value, "setting");
    s_->settings = file.settings;
    s_->ec.SetState(file.mode, file.selectedPort);
}

std::string SimNotebook::SettingsText() const { return FormatSettingsText(s_->ec.FileState()); }

bool SimNotebook::FolderBacked() const { return s_->store.FolderBacked(); }

MachineIdentity SimNotebook::Identity() const
{
    const SimFolder* folder = s_->store.Folder();
    return {"VYK_UU", "Simulated notebook", folder ? folder->Serial() : "SIM-IN-MEMORY"};
}

static int PortIndex(int port)
{
    if (port != 1 && port != 2)
        throw std::invalid_argument("simulated notebook: PD port " + std::to_string(port) +
                                    " does not exist (1 or 2)");
    return port - 1;
}

std::span<const uint8_t> SimNotebook::Flash(int port) const { return s_->store.Flash(PortIndex(port)); }

void SimNotebook::WriteFlash(int port, uint32_t address, std::span<const uint8_t> bytes)
{
    const int i = PortIndex(port);
    if (address > FlashSize || bytes.size() > FlashSize - address)
        throw std::out_of_range("simulated notebook: flash write beyond the 0x40000-byte flash");
    s_->store.WriteFlash(i, address, bytes.data(), bytes.size());
}

uint8_t SimNotebook::EcRamByte(uint16_t address) const { return s_->ec.Peek(address); }
void SimNotebook::SetEcRamByte(uint16_t address, uint8_t value) { s_->ec.Poke(address, value); }

int SimNotebook::SelectedPort() const { return s_->ec.SelectedPort(); }
EcMode SimNotebook::Mode() const { return s_->ec.Mode(); }

void SimNotebook::SetRecording(bool on) { s_->record.recording = on; }
const std::vector<PortOp>& SimNotebook::PortTraffic() const { return s_->record.traffic; }
const std::vector<EcAccess>& SimNotebook::EcAccesses() const { return s_->record.accesses; }
const std::vector<uint8_t>& SimNotebook::Commands() const { return s_->record.commands; }
const std::vector<std::string>& SimNotebook::Violations() const { return s_->record.violations; }
void SimNotebook::ClearRecords() { s_->record.Clear(); }

} // namespace vyk::sim
