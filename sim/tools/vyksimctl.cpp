// vyksimctl: prepares and inspects a simulated notebook folder.
//
//   vyksimctl init DIR                       defaults: erased flash, zeroed EC RAM
//   vyksimctl set DIR key=value...           change settings.txt
//   vyksimctl show DIR                       mode, selected port, versions, settings
//   vyksimctl dump DIR PORT OFFSET LEN FILE  flash bytes into FILE ("-": hex on stdout)
//
// Exit codes: 0 done, 1 the folder or a value was unusable, 2 bad usage.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "sim/SimNotebook.h"

namespace fs = std::filesystem;
using vyk::sim::SimNotebook;

namespace {

const char* Usage =
    "usage: vyksimctl init DIR\n"
    "       vyksimctl set DIR key=value...\n"
    "       vyksimctl show DIR\n"
    "       vyksimctl dump DIR PORT OFFSET LEN OUTFILE   (OUTFILE - prints hex)\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

unsigned long Number(const std::string& text, const char* what, unsigned long max)
{
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || text[0] == '-' || v > max)
        throw UsageError(std::string("bad ") + what + " \"" + text + "\"");
    return v;
}

int Init(const fs::path& dir)
{
    // Start from a known state: the four files are made anew, nothing else
    // in the folder is touched.
    for (const char* name : {"port1.bin", "port2.bin", "ecram.bin", "settings.txt"}) {
        std::error_code ec;
        fs::remove(dir / name, ec);
        if (ec)
            throw std::runtime_error("cannot remove " + (dir / name).string() + ": " + ec.message());
    }
    SimNotebook::OpenFolder(dir);
    std::cout << "initialised " << dir.string() << "\n";
    return 0;
}

int Set(const fs::path& dir, int argc, char** argv)
{
    if (argc == 0)
        throw UsageError("set needs at least one key=value");
    auto nb = SimNotebook::OpenFolder(dir);
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const size_t eq = arg.find('=');
        if (eq == std::string_view::npos)
            throw UsageError("\"" + std::string(arg) + "\" is not key=value");
        nb->ApplySetting(arg.substr(0, eq), arg.substr(eq + 1));
    }
    nb->SaveSettings();
    return 0;
}

int Show(const fs::path& dir)
{
    auto nb = SimNotebook::OpenFolder(dir);
    std::cout << "folder: " << dir.string() << "\n";
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
    return 0;
}

int Dump(const fs::path& dir, char** argv)
{
    const int port = static_cast<int>(Number(argv[0], "PORT (1 or 2)", 2));
    if (port == 0)
        throw UsageError("bad PORT (1 or 2)");
    const unsigned long offset = Number(argv[1], "OFFSET", vyk::sim::FlashSize);
    const unsigned long len = Number(argv[2], "LEN", vyk::sim::FlashSize - offset);
    const std::string out = argv[3];
    auto nb = SimNotebook::OpenFolder(dir);
    const auto bytes = nb->Flash(port).subspan(offset, len);
    if (out == "-") {
        char buf[16];
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i % 16 == 0) {
                std::snprintf(buf, sizeof buf, "%s%06lX:", i ? "\n" : "", offset + i);
                std::cout << buf;
            }
            std::snprintf(buf, sizeof buf, " %02X", bytes[i]);
            std::cout << buf;
        }
        std::cout << "\n";
        return 0;
    }
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f)
        throw std::runtime_error("cannot write " + out);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc < 3)
            throw UsageError("missing command or folder");
        const std::string cmd = argv[1];
        const fs::path dir = argv[2];
        if (cmd == "init" && argc == 3)
            return Init(dir);
        if (cmd == "set")
            return Set(dir, argc - 3, argv + 3);
        if (cmd == "show" && argc == 3)
            return Show(dir);
        if (cmd == "dump" && argc == 7)
            return Dump(dir, argv + 3);
        throw UsageError("unknown command or wrong number of arguments");
    } catch (const UsageError& e) {
        std::cerr << "vyksimctl: " << e.what() << "\n" << Usage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "vyksimctl: " << e.what() << "\n";
        return 1;
    }
}
