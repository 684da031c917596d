#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/Failure.h"

namespace vyk::platform {

// A file a command writes (read -o, flash --backup). Prepare() does every
// check before the first EC access and makes the temporary file beside the
// target; Commit() writes it whole, flushes it to disk and only then gives
// it the target's name, so the name never holds a half-written file;
// anything else removes it. Where the system offers it (Linux) the
// temporary file has no name at all until then, so a process killed before
// leaves nothing; otherwise its name carries the process id, and Prepare()
// removes those of runs that have ended. A symbolic link is followed to the
// file it names (the link stays); a device, FIFO, socket or folder is
// refused. "-" is standard output, refused when that is a terminal.
class OutputFile {
public:
    struct Rules {
        // A file that exists is refused, and Commit() never replaces one
        // made meanwhile: what it would replace may be the only copy.
        bool keepExisting = false;
        // The same for the file a link names; a link to no file yet is
        // followed and the file made.
        bool keepExistingTarget = false;
        // Nothing may be written inside this folder (the simulated
        // notebook's own files); empty: no such folder.
        std::string refusedFolder;
        const char* noun = "output";   // what messages call the file
        // A named temporary file even where a nameless one is offered, as
        // on a file system without them.
        bool namedTemporary = false;
    };

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Both throw Failure, naming the file and the system's reason; Prepare
    // throws NameTaken for a file that exists under Rules::keepExisting.
    void Prepare(const std::string& path, const Rules& rules);
    void Commit(const uint8_t* data, size_t size);
    // Removes the temporary file.
    void Discard();

    bool ToStdout() const { return toStdout_; }
    // The file written in the end (a link's target), or "standard output".
    const std::string& Target() const { return target_; }

private:
    void MakeTemporary(const std::filesystem::path& target, const std::filesystem::path& folder,
                       const std::string& shown, bool named);
    void Name();
    std::string TemporaryText() const;

    std::string target_;
    std::string temporary_;   // the temporary file's name; empty: none (yet)
    bool nameless_ = false;   // fd_ is a file without a name
    bool toStdout_ = false;
    int fd_ = -1;
    int keepMode_ = -1;   // the replaced file's permissions, kept; -1: none
    bool keepExisting_ = false;
};

// "81664 bytes, modified 2026-12-09 18:00:00 UTC": what tells one file
// from another in a refusal; the system's reason when it cannot be looked at.
std::string FileFacts(const std::string& path);

// The path made absolute and plain, as records and messages name a file;
// "-" (standard output) and a path that cannot be made absolute stay.
std::string AbsolutePath(const std::string& path);

// What messages call a file of this type that is not a regular one: "a
// folder", "a FIFO", "a device", "a socket".
const char* KindOf(std::filesystem::file_type type);

} // namespace vyk::platform
