#pragma once
#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/ConsoleView.h"
#include "cli/Failure.h"
#include "hw/EcRam.h"
#include "pd/HexText.h"
#include "pd/Mailbox.h"
#include "pd/PortSelection.h"

namespace vyk::cli {

// The steps every command takes on its way to the EC and back, and the
// state a front end holds while it talks to it.

using Clock = std::chrono::steady_clock;

Clock::duration ToDuration(double seconds);
std::string SecondsText(double seconds);

// Tells the error and puts it in the summary; returns `code`.
int Fail(Console& console, JsonSummary& summary, int code, const std::string& message);
int Fail(Console& console, JsonSummary& summary, const Failure& failure);
int Interrupted(Console& console, JsonSummary& summary, const std::string& message);

inline std::string Hex(uint32_t value, int digits) { return "0x" + pd::HexDigits(value, digits); }

// One front end's worth of state, as the window holds it.
struct Session {
    Session(PortIo& io, int port) : ec(&io), mailbox(ec)
    {
        // What the window does at start and at its first monitor tick.
        mailbox.EcSetup();
        mailbox.SetPresence(true);
        ForceSelection(port);
    }
    ~Session()
    {
        // A destructor must not throw: a simulator folder that has become
        // unwritable only loses the presence flag.
        try {
            mailbox.SetPresence(false);
        } catch (const std::exception&) {
        }
    }

    // The EC may have either port selected (another run, the window): make
    // the sequence send the selection of the wanted port itself.
    void ForceSelection(int port) { ports.Port1Selected = port != 1; }

    EcRam ec;
    pd::Mailbox mailbox;
    pd::PortSelection ports;
};

// Takes the EC's lock and opens the ports; a refusal leaves everything untouched.
int Open(const CommonOptions& common, Console& console, JsonSummary& summary, OpenBackend& backend);
// The last checks before the first EC command: the power (for a flash),
// then one read that shows an EC is there.
int Ready(OpenBackend& backend, bool flashing, bool allowBattery, Console& console, JsonSummary& summary);
// Open, then Ready.
int Connect(const CommonOptions& common, bool flashing, bool allowBattery, Console& console, JsonSummary& summary,
            OpenBackend& backend);

// What --dry-run checks in place of Connect: the lock (taken and given
// back) and the power, touching no port; tells the plan.
int DryRunPorts(const CommonOptions& common, bool flashing, bool allowBattery, Console& console,
                JsonSummary& summary, const std::string& plan);

// The eight version bytes of each port, as the monitor shows them; their
// labels are told as results when `show` is set. `json` gets an array.
struct VersionsRead {
    int code = ExitOk;
    std::string error;   // why it failed; empty on success
    std::string json;
};
VersionsRead ReadVersionsOf(Session& session, ConsoleView& view, const std::vector<int>& ports,
                            const CommonOptions& common, bool show, Console& console);
// The versions into the summary under `key`; a failure is told.
int RecordVersions(Session& session, ConsoleView& view, const std::vector<int>& ports, const CommonOptions& common,
                   bool show, Console& console, JsonSummary& summary, const char* key);

} // namespace vyk::cli
