#pragma once
#include <string>

#include "cli/Checks.h"
#include "cli/EcSession.h"
#include "pd/Advice.h"
#include "pd/FirmwareSequence.h"
#include "pd/ImageBuffer.h"

namespace vyk::cli {

// The advice is the core's, shared with the window.
using pd::BootLoaderAdvice;
using pd::HardStopAdvice;
using pd::MismatchAdvice;
using pd::PdLeft;
using pd::ResetCommandText;
using pd::RetryAdvice;
using pd::InterruptedBackupAdvice;
using pd::ShellWord;

// Runs the pd/ sequences back to back, with no timer between ticks, and
// turns how they end into a Failure that says what the user is told.

// One run of a sequence: who it is in messages, and what a stop leaves.
struct Phase {
    const char* who;            // "flash write", "read", "verify", "backup"
    bool flash;                 // the write sequence
    std::string afterStop;      // appended to the interruption message
    const PdLeft* left = nullptr;   // where the run stands with the PD, for advice
};

// The tool and the options that reach the same EC, for commands it advises.
std::string ToolText(const CommonOptions& common);

// Runs one sequence to its end; one that did not complete throws the
// Failure that says how it ended, with advice where the PD may be left in
// its boot loader.
void RunSequence(Session& session, pd::FirmwareSequence& sequence, const Phase& phase, const Range& range,
                 const CommonOptions& common, Console& console, ConsoleView& view);

// Reads the range into `store` with the read sequence.
void ReadRange(Session& session, pd::ImageStore& store, const Phase& phase, const Range& range,
               const CommonOptions& common, Console& console, ConsoleView& view);

} // namespace vyk::cli
