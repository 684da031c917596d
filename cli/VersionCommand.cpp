// vykuu version, and the versions a flash records before and after.
#include "cli/EcSession.h"
#include "pd/HexText.h"
#include "pd/VersionMonitor.h"

namespace vyk::cli {

VersionsRead ReadVersionsOf(Session& session, ConsoleView& view, const std::vector<int>& ports,
                            const CommonOptions& common, bool show, Console& console)
{
    pd::VersionMonitor monitor(session.mailbox, session.ports, view);
    const auto bound = ToDuration(common.timeoutSeconds);
    VersionsRead out;
    out.json = "[";
    for (const int port : ports) {
        view.SetPort(port);
        session.ForceSelection(port);
        view.ClearVersionLabel();
        // The first tick selects the port, the next one shows its version;
        // each waits for the EC to be idle, which the monitor itself never does.
        for (int tick = 0; tick < 3 && view.VersionLabel().empty(); ++tick) {
            if (!session.mailbox.WaitIdle(bound))
                return {ExitEcBusy,
                        "version: port " + std::to_string(port) + ": EC stayed busy for " +
                            SecondsText(common.timeoutSeconds),
                        {}};
            monitor.Tick();
        }
        const std::string& label = view.VersionLabel();
        if (label.empty() || monitor.ShownPort() != port)
            return {ExitInternal, "version: port " + std::to_string(port) + ": no label shown", {}};
        if (show)
            console.Result(label);
        const std::string bytes = pd::VersionBytesText(monitor.ShownVersion());
        if (out.json.size() > 1)
            out.json += ", ";
        out.json += "{\"port\": " + std::to_string(port) + ", \"version\": " + JsonSummary::Quote(bytes) +
                    ", \"label\": " + JsonSummary::Quote(label) + "}";
    }
    out.json += "]";
    return out;
}

int RecordVersions(Session& session, ConsoleView& view, const std::vector<int>& ports, const CommonOptions& common,
                   bool show, Console& console, JsonSummary& summary, const char* key)
{
    const VersionsRead read = ReadVersionsOf(session, view, ports, common, show, console);
    if (read.code != ExitOk)
        return Fail(console, summary, read.code, read.error);
    summary.SetRaw(key, read.json);
    return ExitOk;
}

int RunVersion(const CommonOptions& common, const VersionOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "version");
    std::vector<int> ports;
    if (options.port == 0)
        ports = {1, 2};
    else
        ports = {options.port};

    if (common.dryRun) {
        std::string plan = "would read the version of ";
        plan += ports.size() > 1 ? std::string("ports 1 and 2") : "port " + std::to_string(ports[0]);
        return DryRunPorts(common, false, false, console, summary, plan);
    }

    OpenBackend backend;
    if (const int code = Connect(common, false, false, console, summary, backend); code != ExitOk)
        return code;
    Session session(*backend.io, ports.front());
    ConsoleView view(console, DefaultStartText, DefaultEndText, ports.front());
    if (const int code = RecordVersions(session, view, ports, common, true, console, summary, "versions"); code != ExitOk)
        return code;
    return ExitOk;
}

} // namespace vyk::cli
