// vykuu version, and the versions a flash records before and after.
#include "cli/Connection.h"
#include "pd/Operations.h"
#include "pd/VersionMonitor.h"

namespace vyk::cli {

Json ReadVersionsOf(pd::EcConnection& connection, const std::vector<int>& ports, const CommonOptions& common, bool show,
                    Console& console)
{
    std::vector<pd::PdPort> asked;
    for (const int port : ports)
        asked.push_back(pd::PdPortOf(port));
    const pd::VersionsResult read = pd::ReadVersions(connection, asked, ToDuration(common.timeoutSeconds));
    Json versions = Json::array();
    // Each label as it would have shown, up to a port that failed.
    for (const pd::PortVersion& version : read.versions) {
        const std::string label = pd::VersionLabelText(version.port, version.bytes.data());
        if (show)
            console.Result(label);
        const std::string bytes = pd::VersionBytesText(version.bytes.data());
        versions.push_back({{"port", pd::PortNumber(version.port)}, {"version", bytes}, {"label", label}});
    }
    if (read.failedAt) {
        const std::string port = "version: port " + std::to_string(pd::PortNumber(*read.failedAt));
        if (read.ecBusy)
            throw Failure(Fault::EcBusy, port + ": EC stayed busy for " + SecondsText(common.timeoutSeconds));
        throw Failure(Fault::Internal, port + ": no label shown");
    }
    return versions;
}

void RecordVersions(pd::EcConnection& connection, const std::vector<int>& ports, const CommonOptions& common, bool show,
                    Console& console, JsonSummary& summary, const char* key)
{
    summary.SetRaw(key, ReadVersionsOf(connection, ports, common, show, console));
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

    platform::OpenBackend backend;
    Connect(common, false, false, console, summary, backend);
    pd::EcConnection connection(*backend.io, pd::PdPortOf(ports.front()));
    RecordVersions(connection, ports, common, true, console, summary, "versions");
}

} // namespace

int RunVersion(const CommonOptions& common, const VersionOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "version");
    return Told(console, summary, [&] { Version(common, options, console, summary); });
}

} // namespace vyk::cli
