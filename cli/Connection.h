#pragma once
#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Failure.h"
#include "hw/EcRam.h"
#include "pd/HexText.h"
#include "pd/EcConnection.h"

namespace vyk::cli {

// The steps every command takes on its way to the EC and back, and the
// state a front end holds while it talks to it.

using Clock = std::chrono::steady_clock;

Clock::duration ToDuration(double seconds);
std::string SecondsText(double seconds);

// Tells a failure, its advice after it, and puts both in the summary;
// returns its exit code.
int Tell(Console& console, JsonSummary& summary, const Failure& failure);
// Runs `step`; ExitOk, or the exit code of the failure it threw, told.
template <class Step>
int Told(Console& console, JsonSummary& summary, Step&& step)
{
    try {
        step();
        return ExitOk;
    } catch (const Failure& failure) {
        return Tell(console, summary, failure);
    }
}
// A safe stop: the failure of a run stopped by a signal.
Failure Interruption(const std::string& message);

inline std::string Hex(uint32_t value, int digits) { return "0x" + pd::HexDigits(value, digits); }

// The steps below throw Failure; a refusal leaves everything untouched.

// Takes the EC's lock and opens the ports.
void Open(const CommonOptions& common, Console& console, JsonSummary& summary, platform::OpenBackend& backend);
// The last checks before the first EC command: the power (for a flash),
// then one read that shows an EC is there.
void Ready(platform::OpenBackend& backend, bool flashing, bool allowBattery, Console& console);
// Open, then Ready.
void Connect(const CommonOptions& common, bool flashing, bool allowBattery, Console& console, JsonSummary& summary,
            platform::OpenBackend& backend);

// What --dry-run checks in place of Connect: the lock (taken and given
// back) and the power, touching no port; tells the plan.
void DryRunPorts(const CommonOptions& common, bool flashing, bool allowBattery, Console& console,
                JsonSummary& summary, const std::string& plan);

// The eight version bytes of each port, as the monitor shows them; their
// labels are told as results when `show` is set. A JSON array of port,
// version and label.
Json ReadVersionsOf(pd::EcConnection& connection, const std::vector<int>& ports, const CommonOptions& common, bool show,
                    Console& console);
// The versions into the summary under `key`.
void RecordVersions(pd::EcConnection& connection, const std::vector<int>& ports, const CommonOptions& common, bool show,
                    Console& console, JsonSummary& summary, const char* key);

} // namespace vyk::cli
