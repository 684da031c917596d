#include "cli/PortBackend.h"

#include <filesystem>
#include <system_error>

#include "cli/RunRecord.h"

#if VYK_CLI_HAVE_SIM
#include "sim/SimFolder.h"
#include "sim/SimNotebook.h"
#endif
#ifdef _WIN32
#include "cli/WinPortLibrary.h"
#else
#include "cli/LinuxPortIo.h"
#endif

namespace vyk::cli {

namespace fs = std::filesystem;

namespace {

void CheckSimFolder(const std::string& dir)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        throw NoPortAccess("simulator folder " + dir + " does not exist or is not a folder (vyksimctl init makes one)");
#if VYK_CLI_HAVE_SIM
    // Only vyksimctl init makes a folder a notebook: a mistyped folder
    // must not quietly become one.
    if (!sim::SimFolder::IsNotebook(dir))
        throw NoPortAccess("simulator folder " + dir + " is not a simulated notebook: it holds no " +
                           sim::SimFolder::MarkerName + " (vyksimctl init " + dir + " makes one)");
#else
    throw NoPortAccess("this build has no simulator");
#endif
}

} // namespace

OpenBackend OpenPorts(const BackendChoice& choice)
{
    OpenBackend out;
    if (choice.openPorts) {
        out.io = choice.openPorts;
        out.description = "ports opened by the caller";
        return out;
    }
    if (!choice.simDir.empty()) {
        CheckSimFolder(choice.simDir);
#if VYK_CLI_HAVE_SIM
        try {
            auto notebook = sim::SimNotebook::OpenFolder(choice.simDir);
            out.sim = notebook.get();
            out.owned = std::move(notebook);
        } catch (const sim::FolderInUse& e) {
            throw EcInUse(std::string(e.what()) + "; nothing was done");
        } catch (const std::exception& e) {
            throw NoPortAccess(std::string("simulator folder ") + choice.simDir + ": " + e.what());
        }
        out.description = "simulated notebook in " + AbsolutePath(choice.simDir);
#endif
        out.io = out.owned.get();
        return out;
    }
    // Held before the ports are opened: a second program is refused before
    // it has touched anything.
    out.lock = EcLock::Take();
#ifdef _WIN32
    std::string path;
    out.owned = WinPortLibrary::Open(choice.portLibrary, path);
    out.description = "ports 0x4E/0x4F through " + path;
#else
    out.owned = LinuxPortIo::Open();
    out.description = "ports 0x4E/0x4F (ioperm)";
#endif
    out.io = out.owned.get();
    return out;
}

Machine MachineOf(const OpenBackend& backend)
{
#if VYK_CLI_HAVE_SIM
    if (backend.sim) {
        const sim::MachineIdentity id = backend.sim->Identity();
        return {id.vendor, id.product, id.serial};
    }
#endif
    (void)backend;
    return ReadHostMachine();
}

Power PowerOf(const OpenBackend& backend)
{
#if VYK_CLI_HAVE_SIM
    if (backend.sim) {
        const sim::Settings& s = backend.sim->GetSettings();
        Power power;
        power.haveBattery = true;
        power.onAc = s.acOnline;
        power.percent = s.batteryPercent;
        return power;
    }
#endif
    (void)backend;
    return ReadHostPower();
}

DryBackend CheckPortsDry(const BackendChoice& choice)
{
    DryBackend out;
    if (choice.openPorts) {
        out.description = "ports opened by the caller";
        return out;
    }
    if (!choice.simDir.empty()) {
        CheckSimFolder(choice.simDir);
#if VYK_CLI_HAVE_SIM
        try {
            // The lock taken and given back at once; the settings looked at under it.
            const sim::SimFolder lock(choice.simDir, sim::SimFolder::Mode::Existing);
            const sim::Settings settings = sim::SimNotebook::ViewFolder(choice.simDir)->GetSettings();
            out.power.haveBattery = true;
            out.power.onAc = settings.acOnline;
            out.power.percent = settings.batteryPercent;
        } catch (const sim::FolderInUse& e) {
            throw EcInUse(std::string(e.what()) + "; nothing was done");
        } catch (const std::exception& e) {
            throw NoPortAccess(std::string("simulator folder ") + choice.simDir + ": " + e.what());
        }
#endif
        out.description = "simulated notebook in " + AbsolutePath(choice.simDir);
        return out;
    }
    EcLock::Take();   // and released at once
    out.power = ReadHostPower();
#ifdef _WIN32
    const std::string path = WinPortLibrary::FindLibrary(choice.portLibrary);
    if (path.empty()) {
        std::string error = "no port library: none of";
        for (const auto& c : WinPortLibrary::Candidates(choice.portLibrary))
            error += " " + c;
        throw NoPortAccess(error + " exists");
    }
    out.description = "ports 0x4E/0x4F through " + path + " (not loaded)";
#else
    if (!LinuxPortIo::Supported())
        throw NoPortAccess("this build has no port instructions (x86 Linux only); use --sim DIR");
    out.description = "ports 0x4E/0x4F through ioperm (not requested)";
#endif
    return out;
}

} // namespace vyk::cli
