#pragma once
#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "hw/PortAccessInit.h"

namespace vyk::app::test {

// A current folder and a library loader in memory. Knobs for each way the
// deployment can go; records what was asked of it.
class FakePortPlatform final : public PortLibraryPlatform {
public:
    std::map<std::string, std::vector<uint8_t>> files;
    std::set<std::string> hidden;
    std::set<std::string> directories;
    bool createFails = false;
    size_t shortWriteAt = SIZE_MAX;   // bytes that reach the file before it fails
    bool loadFails = false;
    std::set<std::string> missingEntries;
    int32_t driverOpen = 1;
    IoPort* io = nullptr;             // what the bound entry points reach

    std::vector<std::string> loadedPaths;
    std::vector<std::string> lookedUp;
    int driverOpenCalls = 0;
    int writes = 0;

    bool FileExists(const std::string& name) override { return files.count(name) != 0; }
    std::optional<size_t> WriteNewFile(const std::string& name, std::span<const uint8_t> bytes) override
    {
        if (createFails || directories.count(name))
            return std::nullopt;
        ++writes;
        size_t n = std::min(bytes.size(), shortWriteAt);
        files[name].assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
    void RemoveFile(const std::string& name) override { files.erase(name); hidden.erase(name); }
    void SetHidden(const std::string& name) override { hidden.insert(name); }
    std::string FullPath(const std::string& name) override { return "C:\\work\\" + name; }
    Library LoadLibraryFullPath(const std::string& fullPath) override
    {
        loadedPaths.push_back(fullPath);
        if (loadFails || !files.count(fullPath.substr(8)))
            return nullptr;
        return this;
    }
    Entry LookUp(Library, const char* name) override
    {
        lookedUp.push_back(name);
        if (missingEntries.count(name))
            return nullptr;
        return const_cast<char*>(name);   // any non-null token
    }
    int32_t CallIsPortDriverOpen(Entry entry) override
    {
        if (std::string(static_cast<const char*>(entry)) != "IsPortDriverOpen")
            throw std::logic_error("called the wrong entry point");
        ++driverOpenCalls;
        return driverOpen;
    }
    IoPort* BindIoPort(Entry, Entry) override { return io; }
};

} // namespace vyk::app::test
