// vykuu: the PD firmware tool for scripts and for Linux. The same pd/
// sequences as the window, ticked back to back instead of by timers.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/JsonSummary.h"

using namespace vyk::cli;

namespace {

void AddRangeOptions(CLI::App* command, RangeOptions& range)
{
    command->add_option("--port", range.port, "PD port, 1 or 2")->required()->check(CLI::IsMember({1, 2}));
    command->add_option("--start", range.startText,
                        "start flash address, uppercase hexadecimal as in the window (default 00C000)");
    command->add_option("--end", range.endText,
                        "end flash address; its block is not included (default 01FF00)");
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vykuu: read and write the firmware of the notebook's USB-C PD controllers through the EC"};
    app.footer(std::string("\n") + ExitCodeHelp +
               "\nAddresses are read as the window reads its fields (1-6 uppercase hex digits); blocks run\n"
               "from the one holding --start up to, not including, the one holding --end.\n"
               "A flash image is indexed by flash address from 0; a file written by 'read' holds the range alone.");
    app.require_subcommand(1);
    app.set_version_flag("--tool-version", "vykuu 1.3");

    CommonOptions common;
    bool quiet = false, json = false, noProgress = false;
    app.add_option("--sim", common.backend.simDir, "use the simulated notebook in this folder instead of real ports");
#ifdef _WIN32
    app.add_option("--port-library", common.backend.portLibrary,
                   "the port library to load (default: io.dll or vykport32.dll beside vykuu.exe or in the current folder)");
#endif
    app.add_option("--timeout", common.timeoutSeconds, "seconds the EC may stay busy before giving up (default 5)")
        ->check(CLI::Range(0.001, 3600.0));
    app.add_flag("--dry-run", common.dryRun, "check arguments, files and range; touch no port");
    app.add_flag("-q,--quiet", quiet, "no log lines");
    app.add_flag("--json", json, "a JSON summary on stdout (log lines go to stderr)");
    app.add_flag("--no-progress", noProgress, "no progress bar even on a terminal");

    VersionOptions versionOptions;
    auto* version = app.add_subcommand("version", "show the eight firmware version bytes of a port (both by default)");
    version->add_option("--port", versionOptions.port, "PD port, 1 or 2")->check(CLI::IsMember({1, 2}));

    ReadOptions readOptions;
    auto* read = app.add_subcommand("read", "read a flash range into a file (the range alone, from its start)");
    AddRangeOptions(read, readOptions.range);
    read->add_option("-o,--output", readOptions.outputPath, "file to write")->required();

    FlashOptions flashOptions;
    bool noVerify = false;
    auto* flash = app.add_subcommand("flash", "write an image's range to a port, then read it back and compare");
    AddRangeOptions(flash, flashOptions.range);
    flash->add_option("image", flashOptions.imagePath, "raw image file, indexed by flash address from 0")->required();
    flash->add_flag("--no-verify", noVerify, "skip the read-back");
    flash->add_flag("--allow-short", flashOptions.allowShort,
                    "flash an image that ends before the range's end (the rest goes out as 0xFF)");

    for (auto* command : {version, read, flash})
        command->fallthrough();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        // --help and --tool-version end well; every other parse error is a usage error.
        return code == 0 ? ExitOk : ExitUsage;
    }
    flashOptions.verify = !noVerify;

    Console console({quiet, json, !noProgress && !json && StdStreamsAreTerminals()});
    JsonSummary summary;
    int code = ExitInternal;
    try {
        if (*version)
            code = RunVersion(common, versionOptions, console, summary);
        else if (*read)
            code = RunRead(common, readOptions, console, summary);
        else
            code = RunFlash(common, flashOptions, console, summary);
    } catch (const std::exception& e) {
        console.Error(std::string("internal error: ") + e.what());
        summary.Set("error", std::string("internal error: ") + e.what());
        code = ExitInternal;
    }
    if (json) {
        summary.Set("ok", code == ExitOk);
        summary.Set("exitCode", code);
        std::printf("%s\n", summary.Text().c_str());
    }
    console.Flush();
    return code;
}
