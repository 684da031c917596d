#pragma once
// The system's pieces vykuu uses, by the short names its code calls them.
#include "platform/MachineInfo.h"
#include "platform/OutputFile.h"
#include "platform/PortBackend.h"
#include "platform/Sha256.h"

namespace vyk::cli {

using platform::BackendChoice;
using platform::CheckPortsDry;
using platform::DryBackend;
using platform::FileFacts;
using platform::KindOf;
using platform::Machine;
using platform::MachineOf;
using platform::OpenBackend;
using platform::OpenPorts;
using platform::OutputFile;
using platform::Power;
using platform::PowerOf;
using platform::Sha256;
using platform::Sha256Hex;

} // namespace vyk::cli
