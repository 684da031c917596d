#include "platform/PortBackend.h"

#include <filesystem>
#include <system_error>

#include "platform/OutputFile.h"

#if VYK_PORTS_HAVE_SIM
#include "sim/SimFolder.h"
#include "sim/SimNotebook.h"
#endif
#ifdef _WIN32
#include "platform/windows/PortLibrary.h"
#else
#include "platform/linux/IoPort.h"
#endif

namespace vyk::platform {

namespace fs = std::filesystem;

namespace {

// One way to the EC: when the choice names it, how it opens, and what a dry
// run can know of it without touching a port.
struct Backend {
    bool (*chosen)(const BackendChoice& choice);
    OpenBackend (*open)(const BackendChoice& choice);
    DryBackend (*dry)(const BackendChoice& choice);
};

// Ports opened by the caller (benchmarks).
bool CallerChosen(const BackendChoice& choice) { return choice.openPorts != nullptr; }

OpenBackend OpenCallerPorts(const BackendChoice& choice)
{
    OpenBackend out;
    out.io = choice.openPorts;
    out.description = "ports opened by the caller";
    return out;
}

DryBackend DryCallerPorts(const BackendChoice&)
{
    DryBackend out;
    out.description = "ports opened by the caller";
    return out;
}

// The simulated notebook in a folder.
bool SimChosen(const BackendChoice& choice) { return !choice.simDir.empty(); }

void CheckSimFolder(const std::string& dir)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        throw NoPortAccess("simulator folder " + dir + " does not exist or is not a folder (vyksimctl init makes one)");
#if VYK_PORTS_HAVE_SIM
    // Only vyksimctl init makes a folder a notebook: a mistyped folder
    // must not quietly become one.
    if (!sim::SimFolder::IsNotebook(dir))
        throw NoPortAccess("simulator folder " + dir + " is not a simulated notebook: it holds no " +
                           sim::SimFolder::MarkerName + " (vyksimctl init " + dir + " makes one)");
#else
    throw NoPortAccess("this build has no simulator");
#endif
}

#if VYK_PORTS_HAVE_SIM
Power PowerOfSettings(const sim::Settings& settings)
{
    Power power;
    power.haveBattery = true;
    power.onAc = settings.acOnline;
    power.percent = settings.batteryPercent;
    return power;
}
#endif

OpenBackend OpenSim(const BackendChoice& choice)
{
    OpenBackend out;
    CheckSimFolder(choice.simDir);
#if VYK_PORTS_HAVE_SIM
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

DryBackend DrySim(const BackendChoice& choice)
{
    DryBackend out;
    CheckSimFolder(choice.simDir);
#if VYK_PORTS_HAVE_SIM
    try {
        // The lock taken and given back at once; the settings looked at under it.
        const sim::SimFolder lock(choice.simDir, sim::SimFolder::Mode::Existing);
        out.power = PowerOfSettings(sim::SimNotebook::ViewFolder(choice.simDir)->GetSettings());
    } catch (const sim::FolderInUse& e) {
        throw EcInUse(std::string(e.what()) + "; nothing was done");
    } catch (const std::exception& e) {
        throw NoPortAccess(std::string("simulator folder ") + choice.simDir + ": " + e.what());
    }
#endif
    out.description = "simulated notebook in " + AbsolutePath(choice.simDir);
    return out;
}

// The machine's own ports: on Linux by the kernel's leave, on Windows through
// the port library.
bool MachineChosen(const BackendChoice&) { return true; }

OpenBackend OpenMachinePorts(const BackendChoice& choice)
{
    OpenBackend out;
    // Held before the ports are opened: a second program is refused before
    // it has touched anything.
    out.lock = EcLock::Take();
#ifdef _WIN32
    std::string path;
    out.owned = LibraryIoPort::Open(choice.portLibrary, path);
    out.description = "ports 0x4E/0x4F through " + path;
#else
    (void)choice;
    out.owned = LinuxIoPort::Open();
    out.description = "ports 0x4E/0x4F (ioperm)";
#endif
    out.io = out.owned.get();
    return out;
}

DryBackend DryMachinePorts(const BackendChoice& choice)
{
    DryBackend out;
    EcLock::Take();   // and released at once
    out.power = ReadHostPower();
#ifdef _WIN32
    const std::string path = LibraryIoPort::FindLibrary(choice.portLibrary);
    if (path.empty()) {
        std::string error = "no port library: none of";
        for (const auto& c : LibraryIoPort::Candidates(choice.portLibrary))
            error += " " + c;
        throw NoPortAccess(error + " exists");
    }
    out.description = "ports 0x4E/0x4F through " + path + " (not loaded)";
#else
    (void)choice;
    if (!LinuxIoPort::Supported())
        throw NoPortAccess("this build has no port instructions (x86 Linux only); use --sim DIR");
    out.description = "ports 0x4E/0x4F through ioperm (not requested)";
#endif
    return out;
}

// In order of precedence; the last is always chosen.
constexpr Backend Backends[] = {
    {CallerChosen, OpenCallerPorts, DryCallerPorts},
    {SimChosen, OpenSim, DrySim},
    {MachineChosen, OpenMachinePorts, DryMachinePorts},
};

const Backend& Chosen(const BackendChoice& choice)
{
    for (const Backend& backend : Backends)
        if (backend.chosen(choice))
            return backend;
    return Backends[std::size(Backends) - 1];
}

} // namespace

OpenBackend OpenPorts(const BackendChoice& choice) { return Chosen(choice).open(choice); }

DryBackend CheckPortsDry(const BackendChoice& choice) { return Chosen(choice).dry(choice); }

Machine MachineOf(const OpenBackend& backend)
{
#if VYK_PORTS_HAVE_SIM
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
#if VYK_PORTS_HAVE_SIM
    if (backend.sim)
        return PowerOfSettings(backend.sim->GetSettings());
#endif
    (void)backend;
    return ReadHostPower();
}

} // namespace vyk::platform
