// The port traffic `vykuu version` and a small `vykuu read` make on the
// simulated notebook when every read gives one fixed byte, compared write
// for write with what a real kernel let the static vykuu write to the
// ports under QEMU.
//
//   realkernel_traffic <read-back hex> <dir>
//
// <dir> holds p4e.log and p4f.log: every byte written to port 0x4E (0x4F)
// during the guest's run, in order, with the guest's markers written in
// between through other ports into the same files ("<V>" before version,
// "<R>" before the read, "<N>" before the refused run as another user,
// "<E>" at the end). What the kernel itself wrote while booting comes
// before the first marker and is ignored. Writes read.bin, the file the
// simulated read produced, for the script to compare with the guest's.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "sim/SimNotebook.h"

using namespace vyk;

namespace {

// The read the guest runs: two blocks of port 1.
constexpr const char* ReadStart = "00C000";
constexpr const char* ReadEnd = "00C200";

struct Traffic {
    std::string to4E, to4F;
    int reads4F = 0, otherPorts = 0;
};

Traffic Split(const std::vector<sim::PortOp>& ops)
{
    Traffic t;
    for (const auto& op : ops) {
        if (!op.isWrite)
            op.port == 0x4F ? ++t.reads4F : ++t.otherPorts;
        else if (op.port == 0x4E)
            t.to4E += static_cast<char>(op.value);
        else if (op.port == 0x4F)
            t.to4F += static_cast<char>(op.value);
        else
            ++t.otherPorts;
    }
    return t;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs one command on a fresh notebook that answers every read with readBack.
Traffic Simulate(int readBack, bool read, const std::string& output, int& code)
{
    sim::SimNotebook notebook;
    notebook.GetSettings().faults.fixedReadBack = readBack;
    notebook.SetRecording(true);
    cli::CommonOptions common;
    common.backend.openPorts = &notebook;
    cli::Console console({true, true, false}); // silent: no log lines, no results
    cli::JsonSummary summary;
    if (read) {
        cli::ReadOptions options;
        options.range.port = 1;
        options.range.startText = ReadStart;
        options.range.endText = ReadEnd;
        options.outputPath = output;
        code = cli::RunRead(common, options, console, summary);
    } else {
        code = cli::RunVersion(common, cli::VersionOptions{}, console, summary);
    }
    return Split(notebook.PortTraffic());
}

std::string Hex(const std::string& bytes, size_t from, size_t count)
{
    std::string out;
    char b[4];
    for (size_t i = from; i < bytes.size() && i < from + count; ++i) {
        std::snprintf(b, sizeof b, "%02X ", static_cast<unsigned char>(bytes[i]));
        out += b;
    }
    return out;
}

// The guest's writes to one port: what follows the first "<V>", which must
// be exactly version, "<R>", read, "<N>", nothing (the refused run writes
// no byte), "<E>".
bool Compare(const char* port, const std::string& seen, const std::string& version, const std::string& read)
{
    const size_t start = seen.find("<V>");
    if (start == std::string::npos) {
        std::printf("FAIL port %s: the guest's first marker never arrived (%zu bytes seen)\n", port, seen.size());
        return false;
    }
    const std::string expected = "<V>" + version + "<R>" + read + "<N><E>";
    const std::string got = seen.substr(start);
    if (got == expected) {
        std::printf("ok   port %s: %zu writes for version, %zu for the read, none as another user, "
                    "identical to the simulator's (%zu boot-time writes before them ignored)\n",
                    port, version.size(), read.size(), start);
        return true;
    }
    size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i])
        ++i;
    std::printf("FAIL port %s: the real kernel's writes differ from the simulator's at write %zu of the "
                "marked run (%zu seen, %zu expected)\n"
                "       seen     %s\n       expected %s\n",
                port, i, got.size(), expected.size(), Hex(got, i > 8 ? i - 8 : 0, 24).c_str(),
                Hex(expected, i > 8 ? i - 8 : 0, 24).c_str());
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: realkernel_traffic <read-back hex> <dir>\n");
        return 2;
    }
    const int readBack = static_cast<int>(std::strtol(argv[1], nullptr, 16)) & 0xFF;
    const std::string dir = argv[2];

    int versionCode = 0, readCode = 0;
    const Traffic version = Simulate(readBack, false, "", versionCode);
    const Traffic read = Simulate(readBack, true, dir + "/read.bin", readCode);
    if (versionCode != 0 || readCode != 0 || version.otherPorts || read.otherPorts) {
        std::printf("FAIL the simulated runs: version exit %d, read exit %d, %d accesses outside 0x4E/0x4F\n",
                    versionCode, readCode, version.otherPorts + read.otherPorts);
        return 1;
    }
    std::printf("simulator, every read 0x%02X: version %zu writes to 0x4E, %zu to 0x4F, %d reads of 0x4F; "
                "read %s..%s %zu writes to 0x4E, %zu to 0x4F, %d reads of 0x4F\n",
                readBack, version.to4E.size(), version.to4F.size(), version.reads4F, ReadStart, ReadEnd,
                read.to4E.size(), read.to4F.size(), read.reads4F);

    bool ok = Compare("0x4E", ReadFile(dir + "/p4e.log"), version.to4E, read.to4E);
    ok = Compare("0x4F", ReadFile(dir + "/p4f.log"), version.to4F, read.to4F) && ok;
    return ok ? 0 : 1;
}
