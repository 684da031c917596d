#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "hw/IoPort.h"

namespace vyk::sim {

// The folder is in use by another process (or another object of this one).
class FolderInUse : public PortFailure {
public:
    using PortFailure::PortFailure;
};

// The files of a folder-backed notebook. Missing files are created whole
// (written to a temporary name, then renamed); existing ones are updated in
// place at fixed offsets and never change size, so a reader never sees a
// half-written file; a temporary file left by a process that ended before
// its rename is removed at the next open. Only <cstdio>, std::filesystem
// and the platform's file lock: it also builds for Windows, where the
// simulator runs inside the port library DLL.
//
// A notebook folder is marked by MarkerName, which also carries the
// notebook's serial number; whoever opens the folder keeps a lock on that
// file until it closes, so two users of one folder never interleave. The
// marker is never deleted, so a lock is never taken out from under a holder.
// Every failure throws PortFailure (FolderInUse when the lock is held).
class SimFolder {
public:
    enum File { Port1, Port2, EcRam, BinFileCount };
    enum class Mode {
        // The folder must exist and be a notebook folder, or be empty (it
        // then becomes one). Nothing is created above it.
        Existing,
        // The folder is created when missing; a notebook's files in it are
        // removed (under the lock) so that they are made anew; a folder
        // holding anything else is refused.
        Init,
        // To look at a notebook another program may be using: no lock is
        // taken and nothing is created or written (a write throws). The
        // folder must hold a notebook's marker and its files.
        ReadOnly,
    };
    static constexpr const char* MarkerName = "vyksim-notebook.txt";

    // Whether the folder holds a notebook's marker (init has made it one).
    static bool IsNotebook(const std::filesystem::path& dir);

    SimFolder(const std::filesystem::path& dir, Mode mode);
    ~SimFolder();
    SimFolder(const SimFolder&) = delete;
    SimFolder& operator=(const SimFolder&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    // "SIM-" and eight hexadecimal digits, made once with the marker.
    const std::string& Serial() const { return serial_; }

    // Opens the file, creating it filled with `fill` when missing; checks its
    // size and returns its whole content.
    std::vector<uint8_t> OpenBin(File file, size_t size, uint8_t fill);
    void Write(File file, uint32_t offset, const uint8_t* data, size_t size);

    // settings.txt: empty string when missing.
    std::string ReadSettings();
    void WriteSettings(const std::string& text);
    std::filesystem::path SettingsPath() const { return dir_ / "settings.txt"; }

    // A small signal file in the folder (the EC's "paused"): made empty,
    // tested for.
    void MakeSignalFile(const char* name);
    bool HasFile(const char* name) const;

    static const char* FileName(File file);

private:
    void ReplaceWhole(const std::filesystem::path& path, const void* data, size_t size);
    void RefuseWriteIfReadOnly(const std::filesystem::path& path) const;
    void Lock();
    void Unlock();
    void ReadOrMakeMarker();
    void RemoveLeftovers();

    std::filesystem::path dir_;
    std::FILE* files_[BinFileCount] = {};
    std::string serial_;
    bool readOnly_ = false;
#ifdef _WIN32
    void* lock_ = nullptr;   // HANDLE
#else
    int lock_ = -1;
#endif
};

} // namespace vyk::sim
