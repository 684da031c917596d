#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pd/FlashRange.h"
#include "platform/MachineInfo.h"

namespace vyk::pd {

// FILE.json beside every file read from a PD (vykuu read -o, flash
// --backup): where its bytes came from, so that a backup of port 2, or of
// another notebook, is not flashed to the wrong PD by a slip of the name.
struct Provenance {
    int port = 0;
    std::string start, end;                // the range, as flash addresses of block starts ("00C000", "01FF00")
    std::string vendor, product, serial;   // the notebook's SMBIOS; empty where unknown
    std::string toolVersion, time;         // the tool that saved it, and when (UTC)
    int64_t bytes = -1;
    std::string sha256;                    // lowercase hex of the file's bytes
};

// The record of `size` bytes just read from `port` over `range` on
// `machine`, by the tool of `toolVersion`.
Provenance ProvenanceOf(const std::string& toolVersion, int port, const FlashRange& range,
                        const platform::Machine& machine, const uint8_t* data, size_t size);

// "FILE.json"
std::string SidecarPath(const std::string& file);

// One JSON object on one line, with a newline.
std::string SidecarText(const Provenance& provenance);

// Reads what SidecarText() wrote (a flat object of strings and numbers);
// false, with `why`, for anything else.
bool ParseSidecar(const std::string& text, Provenance& provenance, std::string& why);

// What a flash is about to do with the file.
struct ImageUse {
    std::string sha256;   // of the file's bytes as loaded
    uint32_t imageAt = 0;
    int port = 1;
    std::string serial;   // this notebook's; empty when unknown
};

// Why the file should not be flashed as it is, one text per finding, each
// naming `recordPath`: its bytes changed, it is placed elsewhere than it
// was read from, it came from the other port or another notebook. Empty
// when the record vouches for this flash.
std::vector<std::string> ImageRecordProblems(const Provenance& saved, const std::string& recordPath,
                                             const ImageUse& use);

} // namespace vyk::pd
