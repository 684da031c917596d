#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/Checks.h"
#include "cli/Platform.h"

namespace vyk::cli {

// FILE.json beside every file read from a PD (read -o, flash --backup):
// where its bytes came from, so that a backup of port 2, or of another
// notebook, is not flashed to the wrong PD by a slip of the name.
struct Provenance {
    int port = 0;
    std::string start, end;                // the range, as flash addresses of block starts ("00C000", "01FF00")
    std::string vendor, product, serial;   // the notebook's SMBIOS, where known
    std::string toolVersion, time;         // the tool that saved it, and when (UTC)
    int64_t bytes = -1;
    std::string sha256;
};

// "FILE.json"
std::string SidecarPath(const std::string& file);

// One JSON object on one line, with a newline.
std::string SidecarText(const Provenance& provenance);

// Reads what SidecarText() wrote (a flat object of strings and numbers);
// false, with `why`, for anything else.
bool ParseSidecar(const std::string& text, Provenance& provenance, std::string& why);

// The record of `size` bytes read from `port` over `range`, now.
Provenance ProvenanceOf(const CommonOptions& common, int port, const Range& range, const Machine& machine,
                        const uint8_t* data, size_t size);

// The record beside `file`: checked, and its temporary file made, before
// the EC is reached (with the file it describes); written once that file
// is whole. An older record of that name describes a file that is gone or
// replaced: it is replaced.
void PrepareSidecar(const CommonOptions& common, const std::string& file, OutputFile& sidecar);
void WriteSidecar(OutputFile& sidecar, const Provenance& provenance);

} // namespace vyk::cli
