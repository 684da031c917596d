#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pd/FlashRange.h"
#include "pd/ImageRecord.h"

namespace vyk::pd {

// The backup a flash makes of its range before writing, or finds from an
// earlier run of the same flash, and the record read beside a file. Each
// refusal is a text that names the file and what to do; empty when there
// is none.

// Where a backup goes when the name given is taken: the first free
// "NAME-2.EXT", "NAME-3.EXT", ...; empty when none is free up to 999.
std::string FreeName(const std::string& path);
// That name as a refusal offers it: " (NAME-2.EXT)", or nothing.
std::string FreeNameOffer(const std::string& path);

// A backup file that exists: the rerun of a flash that made it, whose bytes
// the range is compared with before anything is written.
struct ExistingBackup {
    std::string path;
    std::vector<uint8_t> bytes;
    std::string serial;   // the notebook its record names, when known
};

// A --backup `name` that exists is never replaced; what it holds decides
// whether the run goes on, so it is read whole now. Refused when it cannot
// be the backup of `port`'s `range`: another length, or a record that names
// another port or start.
std::string ReadExistingBackup(const std::string& name, const FlashRange& range, int port,
                               ExistingBackup& existing);

// Another notebook's backup under the same name: its range differs from
// this one's and would be taken for an interrupted flash, whose advice
// flashes on with no backup of this notebook's firmware. `serial` is this
// notebook's; empty when unknown.
std::string BackupNotebookRefusal(const ExistingBackup& existing, const std::string& serial);

// The rerun of a flash whose backup exists, with `now` the range's bytes as
// read before anything is written and `image` the image's bytes of the
// range. Equal to the backup: it holds this firmware and stays the backup.
// Holding the image: the earlier flash completed. Else a flash was stopped
// half way and the backup is the only whole firmware: refused, the text
// ending with `advice`.
struct RerunCheck {
    bool goesOn = false;
    std::string text;   // the note when the run goes on, else the refusal
};
RerunCheck CheckRerun(const uint8_t* now, const ExistingBackup& existing, const uint8_t* image,
                      const FlashRange& range, int port, const std::string& advice);

// The record beside a file that is about to be flashed.
struct RecordBeside {
    std::string path;                   // empty: the file has no record
    Provenance saved;
    std::vector<std::string> problems;  // why the file should not be flashed as it is
};

// The record saved beside `file` (FILE.json), when there is one, checked
// against what the flash is about to do. Without a record a file flashes
// as it always has.
RecordBeside CheckRecordBeside(const std::string& file, const ImageUse& use);

} // namespace vyk::pd
