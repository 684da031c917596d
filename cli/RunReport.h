#pragma once
#include <functional>
#include <string>

#include "cli/Checks.h"
#include "cli/Connection.h"
#include "pd/Advice.h"
#include "pd/ImageBuffer.h"
#include "pd/Operations.h"

namespace vyk::cli {

// The advice is the core's, shared with the window.
using pd::PdLeft;

// Runs the core's operations as the phases of a command, and tells a run
// that did not complete as the Failure the user is told.

// One run of a sequence: who it is in messages, and what a stop leaves.
struct Phase {
    const char* who;            // "flash write", "read", "verify", "backup"
    bool flash;                 // the write sequence
    std::string afterStop;      // appended to the interruption message
    const PdLeft* left = nullptr;   // where the run stands with the PD, for advice
};

// The tool and the options that reach the same EC, for commands it advises.
std::string ToolText(const CommonOptions& common);

// An operation of the core over the request the phase builds.
using Operation = std::function<pd::RunResult(const pd::RunRequest&)>;

// Runs `operation` over the range of `port`, with the progress bar and
// what a second interrupt says held for exactly that long; one that did
// not complete throws the Failure that says how it ended, with advice
// where the PD may be left in its boot loader.
void RunPhase(const Phase& phase, const Range& range, int port, const CommonOptions& common, Console& console,
              const Operation& operation);

// Reads the range into `store`.
void ReadRange(pd::EcConnection& connection, pd::ImageStore& store, const Phase& phase, const Range& range, int port,
               const CommonOptions& common, Console& console);

} // namespace vyk::cli
