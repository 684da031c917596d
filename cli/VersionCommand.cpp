// vykuu version, and the versions a flash records before and after.
#include "cli/EcSession.h"
#include "pd/HexText.h"
#include "pd/VersionMonitor.h"

namespace vyk::cli {

Json ReadVersionsOf(Session& session, ConsoleView& view, const std::vector<int>& ports,
                    const CommonOptions& common, bool show, Console& console)
{
    pd::VersionMonitor monitor(session.mailbox, session.ports, view);
    const auto bound = ToDuration(common.timeoutSeconds);
    Json versions = Json::array();
    for (const int port : ports) {
        view.SetPort(port);
        session.ForceSelection(port);
        view.ClearVersionLabel();
        // The first tick selects the port, the next one shows its version;
        // each waits for the EC to be idle, which the monitor itself never does.
        for (int tick = 0; tick < 3 && view.VersionLabel().empty(); ++tick) {
            if (!session.mailbox.WaitIdle(bound))
                throw Failure(Fault::EcBusy, "version: port " + std::to_string(port) + ": EC stayed busy for " +
                                              SecondsText(common.timeoutSeconds));
            monitor.Tick();
        }
        const std::string& label = view.VersionLabel();
        if (label.empty() || monitor.ShownPort() != port)
            throw Failure(Fault::Internal, "version: port " + std::to_string(port) + ": no label shown");
        if (show)
            console.Result(label);
        const std::string bytes = pd::VersionBytesText(monitor.ShownVersion());
        versions.push_back({{"port", port}, {"version", bytes}, {"label", label}});
    }
    return versions;
}

void RecordVersions(Session& session, ConsoleView& view, const std::vector<int>& ports, const CommonOptions& common,
                    bool show, Console& console, JsonSummary& summary, const char* key)
{
    summary.SetRaw(key, ReadVersionsOf(session, view, ports, common, show, console));
}

namespace {

void Version(const CommonOptions& common, const VersionOptions& options, Console& console, JsonSummary& summary)
{
    std::vector<int> ports;
    if (options.port == 0)
        ports = {1, 2};
    else
        ports = {options.port};

    if (common.dryRun) {
        std::string plan = "would read the version of ";
        plan += ports.size() > 1 ? std::string("ports 1 and 2") : "port " + std::to_string(ports[0]);
        DryRunPorts(common, false, false, console, summary, plan);
        return;
    }

    OpenBackend backend;
    Connect(common, false, false, console, summary, backend);
    Session session(*backend.io, ports.front());
    ConsoleView view(console, DefaultStartText, DefaultEndText, ports.front());
    RecordVersions(session, view, ports, common, true, console, summary, "versions");
}

} // namespace

int RunVersion(const CommonOptions& common, const VersionOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "version");
    return Told(console, summary, [&] { Version(common, options, console, summary); });
}

} // namespace vyk::cli
