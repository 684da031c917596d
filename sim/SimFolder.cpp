#include "sim/SimFolder.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace vyk::sim {

namespace {

std::string Quoted(const fs::path& p)
{
    std::string r(1, '"');
    r += p.string();
    r += '"';
    return r;
}

std::string Why() { return std::strerror(errno); }

std::FILE* Open(const fs::path& p, const char* mode)
{
#ifdef _WIN32
    std::wstring wmode(mode, mode + std::strlen(mode));
    return _wfopen(p.c_str(), wmode.c_str());
#else
    return std::fopen(p.c_str(), mode);
#endif
}

} // namespace

const char* SimFolder::FileName(File file)
{
    switch (file) {
    case Port1: return "port1.bin";
    case Port2: return "port2.bin";
    case EcRam: return "ecram.bin";
    default: return "?";
    }
}

SimFolder::SimFolder(const fs::path& dir) : dir_(dir)
{
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (!fs::is_directory(dir_, ec))
        throw std::runtime_error("simulated notebook: " + Quoted(dir_) +
                                 " is not a folder and cannot be created");
}

SimFolder::~SimFolder()
{
    for (std::FILE*& f : files_) {
        if (f)
            std::fclose(f);
        f = nullptr;
    }
}

void SimFolder::ReplaceWhole(const fs::path& path, const void* data, size_t size)
{
    fs::path tmp = path;
    tmp += ".tmp";
    std::FILE* f = Open(tmp, "wb");
    if (!f)
        throw std::runtime_error("simulated notebook: cannot create " + Quoted(tmp) + ": " + Why());
    const bool ok = std::fwrite(data, 1, size, f) == size && std::fflush(f) == 0;
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (!ok || !closed) {
        fs::remove(tmp, ec);
        throw std::runtime_error("simulated notebook: cannot write " + Quoted(tmp));
    }
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw std::runtime_error("simulated notebook: cannot rename " + Quoted(tmp) + " to " +
                                 Quoted(path) + ": " + ec.message());
    }
}

std::vector<uint8_t> SimFolder::OpenBin(File file, size_t size, uint8_t fill)
{
    const fs::path path = dir_ / FileName(file);
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        std::vector<uint8_t> blank(size, fill);
        ReplaceWhole(path, blank.data(), blank.size());
    }
    const auto actual = fs::file_size(path, ec);
    if (ec)
        throw std::runtime_error("simulated notebook: cannot read " + Quoted(path) + ": " +
                                 ec.message());
    if (actual != size)
        throw std::runtime_error("simulated notebook: " + Quoted(path) + " holds " +
                                 std::to_string(actual) + " bytes; it must hold exactly " +
                                 std::to_string(size));
    std::FILE* f = Open(path, "r+b");
    if (!f)
        throw std::runtime_error("simulated notebook: cannot open " + Quoted(path) + ": " + Why());
    std::vector<uint8_t> data(size);
    if (std::fread(data.data(), 1, size, f) != size) {
        std::fclose(f);
        throw std::runtime_error("simulated notebook: cannot read " + Quoted(path));
    }
    if (files_[file])
        std::fclose(files_[file]);
    files_[file] = f;
    return data;
}

// In place and flushed at once, so the bytes are in the file as soon as this
// returns; no fsync: surviving a power cut is not the simulator's business.
void SimFolder::Write(File file, uint32_t offset, const uint8_t* data, size_t size)
{
    std::FILE* f = files_[file];
    if (!f || size == 0)
        return;
    if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fwrite(data, 1, size, f) != size || std::fflush(f) != 0)
        throw std::runtime_error("simulated notebook: cannot write " +
                                 Quoted(dir_ / FileName(file)) + ": " + Why());
}

std::string SimFolder::ReadSettings()
{
    const fs::path path = SettingsPath();
    std::error_code ec;
    if (!fs::exists(path, ec))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("simulated notebook: cannot read " + Quoted(path));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void SimFolder::WriteSettings(const std::string& text)
{
    ReplaceWhole(SettingsPath(), text.data(), text.size());
}

} // namespace vyk::sim
