// vykuu: the PD firmware tool for scripts and for Linux. The same pd/
// sequences as the window, ticked back to back instead of by timers.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/StopNotice.h"
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
    // From here the record is printed whole; a second signal adds no other.
    summary.Watch({});
    SetHardStopRecord({});
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

// Everything the command line sets, and the parser that sets it.
struct CommandLine {
    CLI::App app{"vykuu: read and write the firmware of the notebook's USB-C PD controllers through the EC"};
    CommonOptions common;
    bool quiet = false, json = false, noProgress = false, noVerify = false;
    CLI::Option* sim = nullptr;
    VersionOptions versionOptions;
    ReadOptions readOptions;
    FlashOptions flashOptions;
    ResetOptions resetOptions;
    std::string helpTopic;
    CLI::App *version = nullptr, *read = nullptr, *flash = nullptr, *reset = nullptr, *help = nullptr;

    std::vector<CLI::App*> Commands() const { return {version, read, flash, reset}; }
};

void AddGlobalOptions(CommandLine& line)
{
    CLI::App& app = line.app;
    app.name("vykuu");
    // Before the commands are added: they take their formatter from here.
    app.formatter(std::make_shared<HelpFormatter>());
    app.footer(std::string("\n") + ExitCodeHelp +
               "\nAddresses are read as the window reads its fields (1-6 uppercase hex digits); blocks run\n"
               "from the one holding --start up to, not including, the one holding --end. Give flash addresses\n"
               "(00C000), not block numbers (C0); a flash below 00C000 needs --allow-low-range.\n"
               "A flash image is indexed by flash address from 0 unless --image-at says where its first byte\n"
               "belongs; a file written by 'read --start S' holds the range alone, from the start of S's\n"
               "block, and flashes back with --image-at at that block start (read --start 00C080 saves\n"
               "from 00C000: --image-at 00C000).");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("vykuu ") + vyk::ProjectVersion);

    line.sim = app.add_option("--sim", line.common.backend.simDir,
                              "use the simulated notebook in this folder instead of real ports");
#ifdef _WIN32
    app.add_option("--port-library", line.common.backend.portLibrary,
                   "the port library to load (default: io.dll or vykport32.dll beside vykuu.exe or in the current folder)");
#endif
    app.add_option("--timeout", line.common.timeoutSeconds, "seconds the EC may stay busy before giving up (default 5, at most 3600)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                double value = 0;
                if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value <= 0 || value > 3600)
                    return "give seconds above 0 and at most 3600, not " + text;
                return {};
            },
            "SECONDS"));
    app.add_flag("--dry-run", line.common.dryRun, "check arguments, files, range, the EC's lock and the battery; touch no port");
    app.add_flag("-q,--quiet", line.quiet, "no log lines");
    app.add_flag("--json", line.json, "a JSON summary on stdout, on every exit (log lines go to stderr)");
    app.add_flag("--no-progress", line.noProgress, "no progress bar even on a terminal");
}

// vykuu flash and its options.
void AddFlashCommand(CommandLine& line)
{
    CLI::App& app = line.app;
    FlashOptions& flashOptions = line.flashOptions;
    auto* flash = line.flash = app.add_subcommand("flash", "write an image's range to a port, then read it back and compare");
    AddRangeOptions(flash, flashOptions.range);
    flash->add_option("image", flashOptions.imagePath,
                      "raw binary image file, indexed by flash address from 0 (a text or hex-record file is refused)")
        ->required();
    flash->add_flag("--no-verify", line.noVerify, "skip the read-back");
    flash->add_flag("--allow-short", flashOptions.allowShort,
                    "pad an image that ends before the range's end with 0xFF: that erases the rest of the range "
                    "(to flash just the file, give --start and --end of the range it covers); an image with "
                    "no byte in the range is refused all the same");
    flash->add_option("--image-at", flashOptions.imageAtText,
                      "flash address of the image's first byte (a block start); a file saved by 'read --start S' "
                      "flashes back with --image-at S's block start");
    flash->add_option("--backup", flashOptions.backupPath,
                      "read the range into this new file (and its record FILE.json) first, as 'read' would; "
                      "nothing is written when that fails. A FILE that exists is kept, never replaced: the flash "
                      "goes on when the range still holds what FILE holds, and is refused when a flash was "
                      "interrupted since");
    flash->add_flag("--allow-battery", flashOptions.allowBattery,
                    "flash even when the notebook runs on battery below 30 %");
    flash->add_flag("--force", flashOptions.force,
                    "flash an image whose record (IMAGE.json, written beside every read -o and --backup) names "
                    "another port or notebook, or no longer matches the file");
    flash->add_flag("--allow-low-range", flashOptions.allowLowRange,
                    "flash a range that starts below 00C000, the default start (the region no default writes, "
                    "which may hold the controller's boot code)");
}

void AddCommands(CommandLine& line)
{
    CLI::App& app = line.app;
    line.version = app.add_subcommand("version", "show the eight firmware version bytes of a port (both by default)");
    line.version->add_option("--port", line.versionOptions.port, "PD port, 1 or 2")->check(CLI::IsMember({1, 2}));

    auto* read = line.read = app.add_subcommand("read", "read a flash range into a file (the range alone, from its start)");
    AddRangeOptions(read, line.readOptions.range);
    read->add_option("-o,--output", line.readOptions.outputPath,
                     "new file to write, with its record FILE.json beside it (an existing one is refused unless "
                     "--force; a link is followed; devices, FIFOs and folders are refused); - for stdout")
        ->required();
    read->add_flag("--force", line.readOptions.force, "replace the output file when it exists");

    AddFlashCommand(line);

    line.reset = app.add_subcommand("reset", "send a port's PD back from its boot loader to the firmware it holds "
                                             "(CmdResetPd), as after an interrupted flash");
    line.reset->add_option("--port", line.resetOptions.port, "PD port, 1 or 2")->required()->check(CLI::IsMember({1, 2}));

    line.help = app.add_subcommand("help", "show this help, or a command's (vykuu help flash)");
    line.help->add_option("command", line.helpTopic, "version, read, flash or reset");

    const auto commands = line.Commands();
    for (auto* command : commands)
        command->fallthrough();
    app.failure_message([commands](const CLI::App*, const CLI::Error& e) {
        std::string topic;
        for (auto* command : commands)
            if (command->parsed())
                topic = " " + command->get_name();
        return "vykuu: " + std::string(e.what()) + "\nvykuu help" + topic + " shows the options" +
               (topic.empty() ? std::string(" and commands") : std::string()) + ".\n";
    });
}

// Parses the arguments; an exit code when the run ends here (a usage
// error, --help, --version), else -1.
int Parse(CommandLine& line, int argc, char** argv, bool json)
{
    CLI::App& app = line.app;
    try {
        // "--sim=" would take the next argument as its folder.
        for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
            if (std::strcmp(argv[i], "--sim=") == 0)
                throw CLI::ValidationError("--sim", "--sim needs a folder; an empty one is refused");
        app.parse(argc, argv);
        if (line.sim->count() > 0 && line.common.backend.simDir.empty())
            throw CLI::ValidationError("--sim", "--sim needs a folder; an empty one would mean the real ports");
        if (*line.read && line.readOptions.outputPath == "-" && line.json)
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
    line.flashOptions.verify = !line.noVerify;
    return -1;
}

// vykuu help [COMMAND]: the text --help shows, of the tool or of one command.
int ShowHelp(CommandLine& line, bool json)
{
    std::string text;
    if (line.helpTopic.empty()) {
        text = line.app.get_formatter()->make_help(&line.app, "vykuu", CLI::AppFormatMode::Normal);
    } else {
        CLI::App* topic = nullptr;
        for (auto* command : line.Commands())
            if (command->get_name() == line.helpTopic)
                topic = command;
        if (!topic) {
            std::fprintf(stderr, "vykuu: help: no command \"%s\" (%s)\n", line.helpTopic.c_str(), CommandNames);
            if (json)
                PrintJson(ExitUsage, "help: no command \"" + line.helpTopic + "\"");
            return ExitUsage;
        }
        text = topic->help("vykuu");
    }
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitOk : ExitFile;
}

// Runs the command parsed; what escapes it is told as an error.
int RunCommand(const CommandLine& line, Console& console, JsonSummary& summary)
{
    try {
        if (*line.version)
            return RunVersion(line.common, line.versionOptions, console, summary);
        if (*line.read)
            return RunRead(line.common, line.readOptions, console, summary);
        if (*line.reset)
            return RunReset(line.common, line.resetOptions, console, summary);
        return RunFlash(line.common, line.flashOptions, console, summary);
    } catch (const vyk::PortFailure& e) {
        // The simulated notebook's folder failed under the run.
        console.Error(std::string("port access lost: ") + e.what());
        summary.Set("error", std::string("port access lost: ") + e.what());
        return ExitNoPortAccess;
    } catch (const std::exception& e) {
        console.Error(std::string("internal error: ") + e.what());
        summary.Set("error", std::string("internal error: ") + e.what());
        return ExitInternal;
    }
}

} // namespace

int main(int argc, char** argv)
{
    InstallStopHandlers();
    const bool json = WantsJson(argc, argv);
    CommandLine line;
    AddGlobalOptions(line);
    AddCommands(line);
    if (const int code = Parse(line, argc, argv, json); code >= 0)
        return code;
    line.common.toolVersion = vyk::ProjectVersion;
    if (*line.help)
        return ShowHelp(line, json);

    ConsoleOptions consoleOptions;
    consoleOptions.quiet = line.quiet;
    consoleOptions.json = line.json;
    consoleOptions.progress = !line.noProgress && !line.json && StdStreamsAreTerminals();
    consoleOptions.logToStderr = *line.read && line.readOptions.outputPath == "-";
    Console console(consoleOptions);
    JsonSummary summary = NewRecord();
    if (line.json)
        summary.Watch(SetHardStopRecord);
    const int code = RunCommand(line, console, summary);
    if (line.json)
        PrintRecord(summary, code);
    return Finish(console, code);
}
