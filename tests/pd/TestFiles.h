#pragma once
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

// A private scratch folder per test program, removed at exit.
inline std::filesystem::path ScratchDir()
{
    static const struct Dir {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("vyk-pd-tests-" + std::to_string(::getpid()));
        Dir() { std::filesystem::create_directories(path); }
        ~Dir() { std::filesystem::remove_all(path); }
    } dir;
    return dir.path;
}

inline std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    const auto path = ScratchDir() / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path.string();
}

inline std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Bytes that differ from block to block and from their neighbours.
inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>((i * 7 + (i >> 8) * 13 + seed) & 0xFF);
    return v;
}
