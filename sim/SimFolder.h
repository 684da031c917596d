#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace vyk::sim {

// The files of a folder-backed notebook. Missing files are created whole
// (written to a temporary name, then renamed); existing ones are updated in
// place at fixed offsets and never change size, so a reader never sees a
// half-written file. Only <cstdio> and std::filesystem: it also builds for
// Windows, where the simulator runs inside the port library DLL.
class SimFolder {
public:
    enum File { Port1, Port2, EcRam, BinFileCount };

    explicit SimFolder(const std::filesystem::path& dir);
    ~SimFolder();
    SimFolder(const SimFolder&) = delete;
    SimFolder& operator=(const SimFolder&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }

    // Opens the file, creating it filled with `fill` when missing; checks its
    // size and returns its whole content.
    std::vector<uint8_t> OpenBin(File file, size_t size, uint8_t fill);
    void Write(File file, uint32_t offset, const uint8_t* data, size_t size);

    // settings.txt: empty string when missing.
    std::string ReadSettings();
    void WriteSettings(const std::string& text);
    std::filesystem::path SettingsPath() const { return dir_ / "settings.txt"; }

    static const char* FileName(File file);

private:
    void ReplaceWhole(const std::filesystem::path& path, const void* data, size_t size);

    std::filesystem::path dir_;
    std::FILE* files_[BinFileCount] = {};
};

} // namespace vyk::sim
