#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vyk::pd {

// What the record saved beside a read (FILE.json) says of the file: the
// values a front end has read from it.
struct SavedRead {
    std::string sha256;   // lowercase hex of the file's bytes
    std::string start;    // "00C000": the flash address its first byte was read from
    std::string time;     // when it was saved, as the record says it
    int port = 1;
    std::string serial;   // the notebook's; empty when unknown
};

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
std::vector<std::string> ImageRecordProblems(const SavedRead& saved, const std::string& recordPath,
                                             const ImageUse& use);

} // namespace vyk::pd
