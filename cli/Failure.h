#pragma once
#include "cli/ExitCodes.h"
#include "platform/Failure.h"

namespace vyk::cli {

using vyk::EcInUse;
using vyk::Failure;
using vyk::Fault;
using vyk::NameTaken;
using vyk::NoPortAccess;

// The exit code a failure ends vykuu with.
constexpr int ExitCodeOf(Fault fault) { return static_cast<int>(fault); }
inline int ExitCodeOf(const Failure& failure) { return ExitCodeOf(failure.Kind()); }

static_assert(ExitCodeOf(Fault::Internal) == ExitInternal && ExitCodeOf(Fault::Usage) == ExitUsage &&
              ExitCodeOf(Fault::File) == ExitFile && ExitCodeOf(Fault::NoPortAccess) == ExitNoPortAccess &&
              ExitCodeOf(Fault::EcBusy) == ExitEcBusy && ExitCodeOf(Fault::Verify) == ExitVerify &&
              ExitCodeOf(Fault::RangeRefused) == ExitRangeRefused &&
              ExitCodeOf(Fault::Interrupted) == ExitInterrupted && ExitCodeOf(Fault::EcInUse) == ExitEcInUse &&
              ExitCodeOf(Fault::NoEc) == ExitNoEc && ExitCodeOf(Fault::OnBattery) == ExitOnBattery &&
              ExitCodeOf(Fault::NotVerified) == ExitNotVerified);

} // namespace vyk::cli
