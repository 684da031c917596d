#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimFolder.h"
#include "sim/SimSettings.h"

namespace vyk::sim {

// What the notebook keeps: both controllers' flash and the EC's RAM, and,
// for a folder-backed notebook, the folder they live in. Flash and
// settings.txt reach their files as they change; EC RAM in runs (MarkDirty,
// then FlushRam), so the transfer window goes out as one write.
class SimStore {
public:
    // In memory only: erased flash, zeroed EC RAM.
    SimStore();

    // Takes over the folder's files (made where missing) and returns what
    // its settings.txt holds over `defaults`; a missing settings.txt is
    // written fresh. `readOnly`: looked at only, nothing reaches the files.
    SimSettingsFile Load(std::unique_ptr<SimFolder> folder, bool readOnly, const SimSettingsFile& defaults);

    bool FolderBacked() const { return folder_ != nullptr; }
    bool Persisting() const { return folder_ && !readOnly_; }
    const SimFolder* Folder() const { return folder_.get(); }

    std::vector<uint8_t>& Ram() { return ram_; }
    const std::vector<uint8_t>& Ram() const { return ram_; }
    // index 0 or 1: port 1 or 2.
    const std::vector<uint8_t>& Flash(int index) const { return flash_[index]; }
    void WriteFlash(int index, uint32_t address, const uint8_t* data, size_t size);

    void MarkDirty(uint32_t address);
    void FlushRam();
    // Only what changed is rewritten; the file's comments and order stay.
    void SaveSettings(const SimSettingsFile& file);

    // The EC's signal file ("paused") in the folder.
    void MakeSignalFile(const char* name) { folder_->MakeSignalFile(name); }
    bool HasFile(const char* name) const { return folder_->HasFile(name); }

private:
    std::array<std::vector<uint8_t>, 2> flash_;
    std::vector<uint8_t> ram_;
    std::unique_ptr<SimFolder> folder_;
    bool readOnly_ = false;
    std::string settingsText_;   // settings.txt as last read or written
    uint32_t dirtyLow_ = EcRamSize;
    uint32_t dirtyHigh_ = 0;
};

} // namespace vyk::sim
