// vyksimctl: prepares and inspects a simulated notebook folder. Only init
// makes a folder a notebook; init and set lock the folder while they work, so
// a change made while another program uses the notebook is refused, not
// lost; show and dump only look, and work meanwhile too.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "hw/ProjectVersion.h"
#include "pd/AddressField.h"
#include "sim/SimFolder.h"
#include "sim/SimNotebook.h"
#include "sim/SimSettings.h"

namespace fs = std::filesystem;
using vyk::sim::SimNotebook;

namespace {

enum Exit { Done = 0, Unusable = 1, UsageExit = 2, InUse = 3 };

const char* const Help =
    "Usage: vyksimctl COMMAND DIR [ARGUMENTS]\n"
    "Prepares and inspects a simulated notebook folder: the EC, its two PD\n"
    "controllers and their flash, as vykuu --sim and VYK_UU.exe under Wine use it.\n"
    "\n"
    "Commands:\n"
    "  init DIR                     make a fresh notebook in DIR (made when missing)\n"
    "  set DIR KEY=VALUE...         change settings; comments and order are kept\n"
    "  show DIR                     the EC's state and the settings\n"
    "  dump DIR PORT START LEN OUT  LEN flash bytes of PORT (1 or 2) from START\n"
    "                               into the file OUT (\"-\": hexadecimal on stdout)\n"
    "show and dump only look: they work while another program uses the notebook.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help; COMMAND --help shows that command's\n"
    "  --version      show the version\n"
    "\n"
    "START, LEN and the setting corrupt_address are read as vykuu reads\n"
    "addresses: 1 to 6 uppercase hexadecimal digits without 0x (00C000, 100).\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the folder or a value is unusable\n"
    "  2  usage error\n"
    "  3  the folder is in use by another program\n";

// Every settings key with a fresh notebook's value and what it takes, from
// the simulator's table, so the help never misses one.
std::string SettingKeys()
{
    std::string r = "Keys, each with a fresh notebook's value:\n";
    const vyk::sim::SimSettingsFile fresh;
    for (const auto& row : vyk::sim::SettingRows()) {
        r += "  " + std::string(row.name) + " = " + vyk::sim::FormatSettingValue(row, fresh) + "\n";
        // What it takes, wrapped to 79 columns below it.
        std::string line = "     ";
        std::string_view words = row.accepts;
        while (!words.empty()) {
            const size_t blank = words.find(' ');
            const std::string_view word = words.substr(0, blank);
            if (line.size() > 5 && line.size() + 1 + word.size() > 79) {
                r += line + "\n";
                line = "     ";
            }
            line += " ";
            line += word;
            words = blank == std::string_view::npos ? std::string_view{} : words.substr(blank + 1);
        }
        r += line + "\n";
    }
    return r;
}

struct CommandHelp {
    const char* name;
    int arguments;   // after DIR; -1: one or more
    std::string text;
};

const CommandHelp Commands[] = {
    {"init", 0,
     "Usage: vyksimctl init DIR\n"
     "Makes a fresh notebook in DIR: erased flash, zeroed EC RAM, default settings.\n"
     "DIR is made when missing. A notebook's files in it are made anew; a folder\n"
     "that holds other files and is no notebook is refused.\n"},
    {"set", -1,
     "Usage: vyksimctl set DIR KEY=VALUE...\n"
     "Changes settings in DIR/settings.txt; the file's comments and order are kept.\n"
     "The folder must be a notebook (vyksimctl init DIR).\n"
     "\n" +
         SettingKeys()},
    {"show", 0,
     "Usage: vyksimctl show DIR\n"
     "Prints PdCommand, the EC's mode and selected port, the serial number and\n"
     "the settings, as the folder's files hold them now; it takes no lock, so it\n"
     "also shows a notebook another program is using.\n"},
    {"dump", 4,
     "Usage: vyksimctl dump DIR PORT START LEN OUT\n"
     "Writes LEN bytes of PORT's flash (1 or 2) from flash address START into the\n"
     "file OUT, or as hexadecimal lines on stdout when OUT is \"-\". START and LEN are\n"
     "1 to 6 uppercase hexadecimal digits without 0x, as vykuu reads addresses.\n"
     "Like show, it takes no lock.\n"},
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool IsHelp(std::string_view arg) { return arg == "-h" || arg == "--help" || arg == "help"; }

// A number as vykuu reads an address.
uint32_t Hex(const std::string& text, const char* what)
{
    const std::string problem = vyk::pd::AddressTextProblem(text);
    if (!problem.empty())
        throw UsageError(std::string(what) + ": " + problem);
    return vyk::pd::ReadAddressField(text);
}

int Init(const fs::path& dir)
{
    SimNotebook::InitFolder(dir);
    std::cout << "initialised " << dir.string() << "\n";
    return Done;
}

int Set(const fs::path& dir, int argc, char** argv)
{
    // Only init makes a folder a notebook.
    if (!vyk::sim::SimFolder::IsNotebook(dir))
        throw std::runtime_error(dir.string() + " is not a simulated notebook: it holds no " +
                                 vyk::sim::SimFolder::MarkerName + " (vyksimctl init " + dir.string() +
                                 " makes one)");
    // All values are checked before anything is written.
    auto nb = SimNotebook::OpenFolder(dir);
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const size_t eq = arg.find('=');
        if (eq == std::string_view::npos)
            throw UsageError("\"" + std::string(arg) + "\" is not key=value");
        nb->ApplySetting(arg.substr(0, eq), arg.substr(eq + 1));
    }
    nb->SaveSettings();
    return Done;
}

int Show(const fs::path& dir)
{
    auto nb = SimNotebook::ViewFolder(dir);
    std::cout << "folder: " << dir.string() << "\n";
    std::cout << "serial: " << nb->Identity().serial << "\n";
    char buf[64];
    std::snprintf(buf, sizeof buf, "PdCommand: 0x%02X\n", nb->EcRamByte(0xD213));
    std::cout << buf;
    const std::string text = nb->SettingsText();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            nl = text.size();
        const std::string line = text.substr(pos, nl - pos);
        if (!line.empty() && line[0] != '#')
            std::cout << line << "\n";
        pos = nl + 1;
    }
    return Done;
}

int Dump(const fs::path& dir, char** argv)
{
    const std::string portText = argv[0];
    if (portText != "1" && portText != "2")
        throw UsageError("PORT \"" + portText + "\": give 1 or 2");
    const int port = portText[0] - '0';
    const uint32_t start = Hex(argv[1], "START");
    const uint32_t length = Hex(argv[2], "LEN");
    if (length == 0 || start >= vyk::sim::FlashSize || length > vyk::sim::FlashSize - start)
        throw UsageError("START " + std::string(argv[1]) + " and LEN " + argv[2] +
                         " do not lie within the 040000-byte flash");
    const std::string out = argv[3];
    auto nb = SimNotebook::ViewFolder(dir);
    const auto bytes = nb->Flash(port).subspan(start, length);
    if (out == "-") {
        char buf[16];
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i % 16 == 0) {
                std::snprintf(buf, sizeof buf, "%s%06lX:", i ? "\n" : "", static_cast<unsigned long>(start + i));
                std::cout << buf;
            }
            std::snprintf(buf, sizeof buf, " %02X", bytes[i]);
            std::cout << buf;
        }
        std::cout << "\n";
        return Done;
    }
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    if (!f)
        throw std::runtime_error("cannot create " + out + ": " + std::strerror(errno));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f)
        throw std::runtime_error("cannot write " + out + ": " + std::strerror(errno));
    return Done;
}

int Run(int argc, char** argv)
{
    if (argc < 2)
        throw UsageError("missing command");
    const std::string cmd = argv[1];
    if (IsHelp(cmd)) {
        std::cout << Help;
        return Done;
    }
    if (cmd == "--version") {
        std::cout << "vyksimctl " << vyk::ProjectVersion << "\n";
        return Done;
    }
    const CommandHelp* command = nullptr;
    for (const auto& c : Commands)
        if (cmd == c.name)
            command = &c;
    if (!command)
        throw UsageError("unknown command \"" + cmd + "\"");
    // Asked for help anywhere: nothing else is done, no folder is touched.
    for (int i = 2; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::cout << command->text;
            return Done;
        }
    }
    const int given = argc - 3;
    if (argc < 3 || (command->arguments >= 0 && given != command->arguments) ||
        (command->arguments < 0 && given < 1))
        throw UsageError(std::string("wrong number of arguments for ") + command->name + "\n" + command->text);
    const fs::path dir = argv[2];
    if (dir.empty())
        throw UsageError("the folder is empty");
    if (cmd == "init")
        return Init(dir);
    if (cmd == "set")
        return Set(dir, given, argv + 3);
    if (cmd == "show")
        return Show(dir);
    return Dump(dir, argv + 3);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "vyksimctl: " << e.what() << "\n(vyksimctl --help shows the commands)\n";
        return UsageExit;
    } catch (const vyk::sim::FolderInUse& e) {
        std::cerr << "vyksimctl: " << e.what() << "\n";
        return InUse;
    } catch (const std::exception& e) {
        std::cerr << "vyksimctl: " << e.what() << "\n";
        return Unusable;
    }
}
