// The steps every command takes on its way to the EC: the lock, the ports,
// the power and one read that shows an EC is there; and how a refusal is told.
#include <cstdio>

#include "cli/Connection.h"
#include "cli/StopNotice.h"
#include "hw/EcRam.h"
#include "pd/Mailbox.h"

namespace vyk::cli {

Clock::duration ToDuration(double seconds)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string SecondsText(double seconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", seconds);
    return buf;
}

Failure Interruption(const std::string& message) { return Failure(Fault::Interrupted, message); }

int Tell(Console& console, JsonSummary& summary, const Failure& failure)
{
    if (failure.Kind() == Fault::Interrupted || failure.Kind() == Fault::NotVerified) {
        summary.Set("interrupted", true);
        summary.Set("signal", StopCause());
    }
    console.Error(failure.Message());
    summary.Set("error", failure.Message());
    if (!failure.Advice().empty()) {
        console.Error(failure.Advice());
        summary.Set("pdMayBeInBootLoader", true);
        summary.Set("advice", failure.Advice());
    }
    return ExitCodeOf(failure);
}

namespace {

Json MachineJson(const platform::Machine& machine)
{
    return {{"vendor", machine.vendor}, {"product", machine.product}, {"serial", machine.serial}};
}

} // namespace

void Open(const CommonOptions& common, Console& console, JsonSummary& summary, platform::OpenBackend& backend)
{
    if (StopRequest())
        throw Interruption("interrupted before the EC was reached; nothing was done");
    backend = platform::OpenPorts(common.backend);
    summary.Set("backend", backend.description);
    if (console.Json())
        summary.SetRaw("machine", MachineJson(platform::MachineOf(backend)));
}

void Ready(platform::OpenBackend& backend, bool flashing, bool allowBattery, Console& console)
{
    if (flashing)
        CheckPower(platform::PowerOf(backend), allowBattery, console);
    // PdCommand is never 0xFF; a bus with nothing on it reads 0xFF everywhere.
    EcRam ec(backend.io);
    if (ec.EcRamRead(pd::PdCommand) == 0xFF)
        throw Failure(Fault::NoEc, "no EC answers at ports 0x4E/0x4F (every read gives 0xFF)");
    if (StopRequest())
        throw Interruption("interrupted before the first command; nothing sent");
}

void Connect(const CommonOptions& common, bool flashing, bool allowBattery, Console& console, JsonSummary& summary,
            platform::OpenBackend& backend)
{
    Open(common, console, summary, backend);
    Ready(backend, flashing, allowBattery, console);
}

void DryRunPorts(const CommonOptions& common, bool flashing, bool allowBattery, Console& console,
                JsonSummary& summary, const std::string& plan)
{
    const platform::DryBackend dry = platform::CheckPortsDry(common.backend);
    summary.Set("backend", dry.description);
    summary.Set("dryRun", true);
    if (flashing)
        CheckPower(dry.power, allowBattery, console);
    console.Note("dry run: " + plan + "; backend: " + dry.description + "; the EC's lock is free; no port touched");
}

} // namespace vyk::cli
