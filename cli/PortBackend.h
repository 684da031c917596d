#pragma once
#include <memory>
#include <stdexcept>
#include <string>

#include "hw/PortIo.h"

namespace vyk::cli {

struct BackendChoice {
    std::string simDir;        // the simulated notebook's folder; empty: real ports
    std::string portLibrary;   // Windows: the port library's path; empty: the usual places
    PortIo* openPorts = nullptr;   // ports opened by the caller (benchmarks); wins over the rest
};

// The ports cannot be reached; the message says why and what to do.
class NoPortAccess : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OpenBackend {
    PortIo* io = nullptr;
    std::unique_ptr<PortIo> owned;
    std::string description;   // "simulated notebook in DIR", "ports 0x4E/0x4F (ioperm)", ...
};

// Opens the ports. Throws NoPortAccess.
OpenBackend OpenPorts(const BackendChoice& choice);

// What --dry-run can know without touching a port or creating a file.
// Returns the description; throws NoPortAccess when the backend is
// certainly unusable (a missing simulator folder, no port library).
std::string CheckPortsDry(const BackendChoice& choice);

} // namespace vyk::cli
