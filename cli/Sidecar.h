#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/Checks.h"
#include "pd/ImageRecord.h"

namespace vyk::cli {

using pd::Provenance;
using pd::ProvenanceOf;
using pd::SidecarPath;

// The record beside `file`: checked, and its temporary file made, before
// the EC is reached (with the file it describes); written once that file
// is whole. An older record of that name describes a file that is gone or
// replaced: it is replaced.
void PrepareSidecar(const CommonOptions& common, const std::string& file, platform::OutputFile& sidecar);
void WriteSidecar(platform::OutputFile& sidecar, const Provenance& provenance);

} // namespace vyk::cli
