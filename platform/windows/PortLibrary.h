#pragma once
#include <memory>
#include <string>
#include <vector>

#include "hw/PortIo.h"

namespace vyk::platform {

// Windows only. The program's port library ("io.dll" or "vykport32.dll"),
// loaded by full path only, never through the DLL search order.
class WinPortLibrary final : public PortIo {
public:
    // Full paths tried in order: the given one alone when not empty, else
    // io.dll and vykport32.dll next to the executable, then in the current
    // folder.
    static std::vector<std::string> Candidates(const std::string& explicitPath);
    // The first candidate that exists, or empty.
    static std::string FindLibrary(const std::string& explicitPath);

    // Throws NoPortAccess, with a clear message, when no library loads, an
    // entry point is missing or its driver is not open.
    static std::unique_ptr<WinPortLibrary> Open(const std::string& explicitPath, std::string& loadedPath);
    ~WinPortLibrary() override;

    void OutPortByte(uint16_t port, uint16_t data) override;
    uint16_t InPortByte(uint16_t port) override;

private:
    struct Impl;
    explicit WinPortLibrary(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace vyk::platform
