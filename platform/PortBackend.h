#pragma once
#include <memory>
#include <string>

#include "platform/EcLock.h"
#include "platform/Failure.h"
#include "platform/MachineInfo.h"
#include "hw/IoPort.h"

namespace vyk::sim {
class SimNotebook;
}

namespace vyk::platform {

struct BackendChoice {
    std::string simDir;        // the simulated notebook's folder; empty: real ports (an empty --sim is refused before)
    std::string portLibrary;   // Windows: the port library's path; empty: the usual places
    IoPort* openPorts = nullptr;   // ports opened by the caller (benchmarks); wins over the rest
};

struct OpenBackend {
    IoPort* io = nullptr;
    std::unique_ptr<EcLock> lock;   // real ports: released after the ports
    std::unique_ptr<IoPort> owned;
    sim::SimNotebook* sim = nullptr;   // the simulated notebook, when that is what is open
    std::string description;   // "simulated notebook in DIR", "ports 0x4E/0x4F (ioperm)", ...
};

// Takes the EC's lock (the simulator folder's, or the machine's for real
// ports), then opens the ports. Throws EcInUse or NoPortAccess; either way
// nothing has been touched.
OpenBackend OpenPorts(const BackendChoice& choice);

// The machine and its power: the simulated notebook's own, or the host's.
Machine MachineOf(const OpenBackend& backend);
Power PowerOf(const OpenBackend& backend);

// What --dry-run can know without touching a port or creating a file: the
// backend, whether the EC's lock is free (it is taken and given back at
// once) and the power. Throws EcInUse when the lock is held, NoPortAccess
// when the backend is certainly unusable (a missing simulator folder, no
// port library).
struct DryBackend {
    std::string description;
    Power power;
};
DryBackend CheckPortsDry(const BackendChoice& choice);

} // namespace vyk::platform
