#pragma once
#include <memory>
#include <vector>

#include "hw/PortAccessInit.h"

namespace vyk::app {

// Files, library loading and entry-point calls of Windows for InitPortAccess.
class Win32PortLibrary final : public PortLibraryPlatform {
public:
    Win32PortLibrary();
    ~Win32PortLibrary() override;

    bool FileExists(const std::string& name) override;
    std::optional<size_t> WriteNewFile(const std::string& name, std::span<const uint8_t> bytes) override;
    void RemoveFile(const std::string& name) override;
    void SetHidden(const std::string& name) override;
    std::string FullPath(const std::string& name) override;
    Library LoadLibraryFullPath(const std::string& fullPath) override;
    Entry LookUp(Library library, const char* name) override;
    int32_t CallIsPortDriverOpen(Entry entry) override;
    PortIo* BindPortIo(Entry outPortByte, Entry inPortByte) override;

private:
    std::vector<std::unique_ptr<PortIo>> bound_;
};

} // namespace vyk::app
