#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/JsonSummary.h"
#include "pd/ClockText.h"
#include "platform/OutputFile.h"

namespace vyk::cli {

// What makes the --json summary a record a production line can keep: when
// the run began and ended, and exactly which bytes came from or went to
// which file.

using pd::UtcTimeText;

// The name as the system resolves it from the current folder now.
using platform::AbsolutePath;

// "<key>": the absolute path; "<key>Bytes" and "<key>Sha256" of `data`,
// the bytes read from or written to it. Returns that SHA-256.
std::string RecordFile(JsonSummary& summary, const std::string& key, const std::string& path,
                       const uint8_t* data, size_t size);

} // namespace vyk::cli
