// vykuu: the PD firmware tool for scripts and for Linux. The same pd/
// sequences as the window, ticked back to back instead of by timers.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"
#include "cli/JsonSummary.h"
#include "cli/RunRecord.h"
#include "hw/ProjectVersion.h"

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

const auto StartedAt = std::chrono::system_clock::now();

// Which tool made the record, and when it began.
JsonSummary NewRecord()
{
    JsonSummary summary;
    summary.Set("tool", "vykuu");
    summary.Set("toolVersion", vyk::ProjectVersion);
    summary.Set("started", UtcTimeText(StartedAt));
    return summary;
}

void PrintRecord(JsonSummary& summary, int code)
{
    const auto now = std::chrono::system_clock::now();
    summary.Set("ended", UtcTimeText(now));
    summary.SetSeconds("seconds", std::chrono::duration<double>(now - StartedAt).count());
    summary.Set("ok", code == ExitOk);
    summary.Set("exitCode", code);
    std::printf("%s\n", summary.Text().c_str());
}

// The summary of a run that ended before a command started.
void PrintJson(int code, const std::string& error)
{
    JsonSummary summary = NewRecord();
    if (!error.empty())
        summary.Set("error", error);
    PrintRecord(summary, code);
}

const char* const CommandNames = "version, read, flash, reset, help";

// A command's help lists the options given before the command too.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_footer(const CLI::App* app) const override
    {
        const CLI::App* parent = app->get_parent();
        if (!parent)
            return CLI::Formatter::make_footer(app);
        const auto global = parent->get_options([parent](const CLI::Option* option) {
            return option != parent->get_help_ptr() && option->get_name() != "--version";
        });
        return make_group("Global options (before the command, as in vykuu --sim nb " + app->get_name() + ")",
                          false, global) +
               CLI::Formatter::make_footer(app);
    }
};

// Usage errors print their summary too, so --json is looked for by hand
// (CLI11 has not parsed anything when it refuses). "--" ends the options.
bool WantsJson(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--json") == 0)
            return true;
    }
    return false;
}

// Ends the process's output: a write lost to a closed pipe or a full disk
// turns a success into ExitFile.
int Finish(Console& console, int code)
{
    console.Flush();
    if (!console.OutputFailure().empty()) {
        std::string text = console.OutputFailure();
        if (code == ExitOk && !console.Achieved().empty())
            text += "; " + console.Achieved() + ": only what it printed was lost (exit 3)";
        std::fprintf(stderr, "vykuu: %s\n", text.c_str());
        if (code == ExitOk)
            code = ExitFile;
    }
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    InstallInterruptHandlers();
    const bool json = WantsJson(argc, argv);

    CLI::App app{"vykuu: read and write the firmware of the notebook's USB-C PD controllers through the EC"};
    app.name("vykuu");
    // Before the commands are added: they take their formatter from here.
    app.formatter(std::make_shared<HelpFormatter>());
    app.footer(std::string("\n") + ExitCodeHelp +
               "\nAddresses are read as the window reads its fields (1-6 uppercase hex digits); blocks run\n"
               "from the one holding --start up to, not including, the one holding --end.\n"
               "A flash image is indexed by flash address from 0 unless --image-at says where its first byte\n"
               "belongs; a file written by 'read --start S' holds the range alone, from the start of S's\n"
               "block, and flashes back with --image-at at that block start (read --start 00C080 saves\n"
               "from 00C000: --image-at 00C000).");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("vykuu ") + vyk::ProjectVersion);

    CommonOptions common;
    bool quiet = false, jsonFlag = false, noProgress = false;
    auto* sim = app.add_option("--sim", common.backend.simDir,
                               "use the simulated notebook in this folder instead of real ports");
#ifdef _WIN32
    app.add_option("--port-library", common.backend.portLibrary,
                   "the port library to load (default: io.dll or vykport32.dll beside vykuu.exe or in the current folder)");
#endif
    app.add_option("--timeout", common.timeoutSeconds, "seconds the EC may stay busy before giving up (default 5, at most 3600)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                double value = 0;
                if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value <= 0 || value > 3600)
                    return "give seconds above 0 and at most 3600, not " + text;
                return {};
            },
            "SECONDS"));
    app.add_flag("--dry-run", common.dryRun, "check arguments, files, range, the EC's lock and the battery; touch no port");
    app.add_flag("-q,--quiet", quiet, "no log lines");
    app.add_flag("--json", jsonFlag, "a JSON summary on stdout, on every exit (log lines go to stderr)");
    app.add_flag("--no-progress", noProgress, "no progress bar even on a terminal");

    VersionOptions versionOptions;
    auto* version = app.add_subcommand("version", "show the eight firmware version bytes of a port (both by default)");
    version->add_option("--port", versionOptions.port, "PD port, 1 or 2")->check(CLI::IsMember({1, 2}));

    ReadOptions readOptions;
    auto* read = app.add_subcommand("read", "read a flash range into a file (the range alone, from its start)");
    AddRangeOptions(read, readOptions.range);
    read->add_option("-o,--output", readOptions.outputPath,
                     "file to write (a link is followed; devices, FIFOs and folders are refused); - for stdout")
        ->required();

    FlashOptions flashOptions;
    bool noVerify = false;
    auto* flash = app.add_subcommand("flash", "write an image's range to a port, then read it back and compare");
    AddRangeOptions(flash, flashOptions.range);
    flash->add_option("image", flashOptions.imagePath, "raw image file, indexed by flash address from 0")->required();
    flash->add_flag("--no-verify", noVerify, "skip the read-back");
    flash->add_flag("--allow-short", flashOptions.allowShort,
                    "flash an image that ends before the range's end (the rest goes out as 0xFF); an image with "
                    "no byte in the range is refused all the same");
    flash->add_option("--image-at", flashOptions.imageAtText,
                      "flash address of the image's first byte (a block start); a file saved by 'read --start S' "
                      "flashes back with --image-at S's block start");
    flash->add_option("--backup", flashOptions.backupPath,
                      "read the range into this new file first, as 'read' would (an existing file is refused); "
                      "nothing is written when that fails");
    flash->add_flag("--allow-battery", flashOptions.allowBattery,
                    "flash even when the notebook runs on battery below 30 %");

    ResetOptions resetOptions;
    auto* reset = app.add_subcommand("reset", "send a port's PD back from its boot loader to the firmware it holds "
                                              "(CmdResetPd), as after an interrupted flash");
    reset->add_option("--port", resetOptions.port, "PD port, 1 or 2")->required()->check(CLI::IsMember({1, 2}));

    std::string helpTopic;
    auto* help = app.add_subcommand("help", "show this help, or a command's (vykuu help flash)");
    help->add_option("command", helpTopic, "version, read, flash or reset");

    const auto commands = {version, read, flash, reset};
    for (auto* command : commands)
        command->fallthrough();
    app.failure_message([&](const CLI::App*, const CLI::Error& e) {
        std::string topic;
        for (auto* command : commands)
            if (command->parsed())
                topic = " " + command->get_name();
        return "vykuu: " + std::string(e.what()) + "\nvykuu help" + topic + " shows the options" +
               (topic.empty() ? std::string(" and commands") : std::string()) + ".\n";
    });

    try {
        // "--sim=" would take the next argument as its folder.
        for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
            if (std::strcmp(argv[i], "--sim=") == 0)
                throw CLI::ValidationError("--sim", "--sim needs a folder; an empty one is refused");
        app.parse(argc, argv);
        if (sim->count() > 0 && common.backend.simDir.empty())
            throw CLI::ValidationError("--sim", "--sim needs a folder; an empty one would mean the real ports");
        if (*read && readOptions.outputPath == "-" && jsonFlag)
            throw CLI::ValidationError("-o", "-o - and --json both want standard output");
    } catch (const CLI::ParseError& e) {
        // A word where the command belongs that names none.
        if (dynamic_cast<const CLI::RequiredError*>(&e) && app.get_subcommands().empty() && !app.remaining().empty()) {
            const std::string text = "unknown command \"" + app.remaining().front() + "\"; the commands are " +
                                     CommandNames;
            std::fprintf(stderr, "vykuu: %s\nvykuu help shows the options and commands.\n", text.c_str());
            if (json)
                PrintJson(ExitUsage, text);
            std::fflush(stdout);
            return ExitUsage;
        }
        const int code = app.exit(e);
        // --help and --version end well; every other parse error is a usage error.
        const int exitCode = code == 0 ? ExitOk : ExitUsage;
        if (json && exitCode != ExitOk)
            PrintJson(exitCode, e.what());
        std::fflush(stdout);
        return exitCode;
    }
    flashOptions.verify = !noVerify;

    if (*help) {
        // The text --help shows, of the tool or of one command.
        std::string text;
        if (helpTopic.empty()) {
            text = app.get_formatter()->make_help(&app, "vykuu", CLI::AppFormatMode::Normal);
        } else {
            CLI::App* topic = nullptr;
            for (auto* command : commands)
                if (command->get_name() == helpTopic)
                    topic = command;
            if (!topic) {
                std::fprintf(stderr, "vykuu: help: no command \"%s\" (%s)\n", helpTopic.c_str(), CommandNames);
                if (json)
                    PrintJson(ExitUsage, "help: no command \"" + helpTopic + "\"");
                return ExitUsage;
            }
            text = topic->help("vykuu");
        }
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitOk : ExitFile;
    }

    ConsoleOptions consoleOptions;
    consoleOptions.quiet = quiet;
    consoleOptions.json = jsonFlag;
    consoleOptions.progress = !noProgress && !jsonFlag && StdStreamsAreTerminals();
    consoleOptions.logToStderr = *read && readOptions.outputPath == "-";
    Console console(consoleOptions);
    JsonSummary summary = NewRecord();
    int code = ExitInternal;
    try {
        if (*version)
            code = RunVersion(common, versionOptions, console, summary);
        else if (*read)
            code = RunRead(common, readOptions, console, summary);
        else if (*reset)
            code = RunReset(common, resetOptions, console, summary);
        else
            code = RunFlash(common, flashOptions, console, summary);
    } catch (const vyk::PortFailure& e) {
        // The simulated notebook's folder failed under the run.
        console.Error(std::string("port access lost: ") + e.what());
        summary.Set("error", std::string("port access lost: ") + e.what());
        code = ExitNoPortAccess;
    } catch (const std::exception& e) {
        console.Error(std::string("internal error: ") + e.what());
        summary.Set("error", std::string("internal error: ") + e.what());
        code = ExitInternal;
    }
    if (jsonFlag)
        PrintRecord(summary, code);
    return Finish(console, code);
}
