// The steps every command takes on its way to the EC: the lock, the ports,
// the power and one read that shows an EC is there; and how a refusal is told.
#include <cstdio>

#include "cli/EcSession.h"
#include "cli/Interrupt.h"
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

int Fail(Console& console, JsonSummary& summary, int code, const std::string& message)
{
    console.Error(message);
    summary.Set("error", message);
    return code;
}

int Fail(Console& console, JsonSummary& summary, const Failure& failure)
{
    return Fail(console, summary, failure.Code(), failure.Message());
}

int Interrupted(Console& console, JsonSummary& summary, const std::string& message)
{
    summary.Set("interrupted", true);
    summary.Set("signal", StopCause());
    return Fail(console, summary, ExitInterrupted, message);
}

namespace {

std::string MachineJson(const Machine& machine)
{
    return "{\"vendor\": " + JsonSummary::Quote(machine.vendor) + ", \"product\": " +
           JsonSummary::Quote(machine.product) + ", \"serial\": " + JsonSummary::Quote(machine.serial) + "}";
}

} // namespace

int Open(const CommonOptions& common, Console& console, JsonSummary& summary, OpenBackend& backend)
{
    if (StopRequest())
        return Interrupted(console, summary, "interrupted before the EC was reached; nothing was done");
    try {
        backend = OpenPorts(common.backend);
    } catch (const Failure& failure) {
        return Fail(console, summary, failure);
    }
    summary.Set("backend", backend.description);
    if (console.Json())
        summary.SetRaw("machine", MachineJson(MachineOf(backend)));
    return ExitOk;
}

int Ready(OpenBackend& backend, bool flashing, bool allowBattery, Console& console, JsonSummary& summary)
{
    if (flashing)
        if (const int code = CheckPower(PowerOf(backend), allowBattery, console, summary); code != ExitOk)
            return code;
    // PdCommand is never 0xFF; a bus with nothing on it reads 0xFF everywhere.
    EcRam ec(backend.io);
    if (ec.EcRamRead(pd::PdCommand) == 0xFF)
        return Fail(console, summary, ExitNoEc, "no EC answers at ports 0x4E/0x4F (every read gives 0xFF)");
    if (StopRequest())
        return Interrupted(console, summary, "interrupted before the first command; nothing sent");
    return ExitOk;
}

int Connect(const CommonOptions& common, bool flashing, bool allowBattery, Console& console, JsonSummary& summary,
            OpenBackend& backend)
{
    if (const int code = Open(common, console, summary, backend); code != ExitOk)
        return code;
    return Ready(backend, flashing, allowBattery, console, summary);
}

int DryRunPorts(const CommonOptions& common, bool flashing, bool allowBattery, Console& console,
                JsonSummary& summary, const std::string& plan)
{
    DryBackend dry;
    try {
        dry = CheckPortsDry(common.backend);
    } catch (const Failure& failure) {
        return Fail(console, summary, failure);
    }
    summary.Set("backend", dry.description);
    summary.Set("dryRun", true);
    if (flashing)
        if (const int code = CheckPower(dry.power, allowBattery, console, summary); code != ExitOk)
            return code;
    console.Note("dry run: " + plan + "; backend: " + dry.description + "; the EC's lock is free; no port touched");
    return ExitOk;
}

} // namespace vyk::cli
