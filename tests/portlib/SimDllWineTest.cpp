// vyksim.dll as the program would load it: a byte of EC RAM written through
// its OutPortByte (twelve Super I/O port operations) must reach the
// simulated notebook's ecram.bin in VYKSIM_DIR, and read back the same.
//
//   vyksim_wine_test <vyksim.dll>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hw/EcRam.h"
#include "hw/IoPort.h"
#include "portlib/VykPort32.h"
#include "sim/SimNotebook.h"

#include "tests/WineCheck.h"

namespace {

using vyk::winetest::Failures;
using vyk::winetest::Check;
using vyk::winetest::WindowsPath;

template <typename T>
T Bind(HMODULE h, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(h, name)));
}

// The library's two byte operations as the program binds them.
class LibraryPorts final : public vyk::IoPort {
public:
    explicit LibraryPorts(HMODULE h)
        : out_(Bind<decltype(out_)>(h, "OutPortByte")), in_(Bind<decltype(in_)>(h, "InPortByte"))
    {
    }
    void OutPortByte(uint16_t port, uint16_t data) override { out_(port, data); }
    uint16_t InPortByte(uint16_t port) override { return in_(port); }

private:
    void(__stdcall* out_)(uint16_t, uint16_t);
    uint16_t(__stdcall* in_)(uint16_t);
};

std::string MakeFolder(const char* leaf)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string dir = std::string(temp) + leaf + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: vyksim_wine_test <vyksim.dll>\n");
        return 2;
    }
    const std::string dll = WindowsPath(argv[1]);
    const std::string dir = MakeFolder("vyksim-test-");
    // Only init makes a notebook of a folder; the library opens it as it is.
    // Wine reuses process ids, so an earlier run's folder may be there.
    DeleteFileA((dir + "\\not-a-folder").c_str());
    vyk::sim::SimNotebook::InitFolder(dir);
    SetEnvironmentVariableA("VYKSIM_DIR", dir.c_str());

    HMODULE h = LoadLibraryA(dll.c_str());
    Check(h != nullptr, "load " + dll);
    if (!h)
        return 1;
    for (const char* name : VykPortExportNames)
        Check(GetProcAddress(h, name) != nullptr, std::string("export ") + name);
    Check(Bind<int32_t(__stdcall*)()>(h, "IsPortDriverOpen")() == 1, "IsPortDriverOpen gives 1");

    LibraryPorts ports(h);
    vyk::EcRam ec(&ports);
    ec.EcRamWrite(0xD1F3, 0x5A);
    ec.EcRamWrite(0x0000, 0xC3);
    Check(ec.EcRamRead(0xD1F3) == 0x5A, "EC RAM byte 0xD1F3 reads back 0x5A");
    Check(ec.EcRamRead(0x0000) == 0xC3, "EC RAM byte 0x0000 reads back 0xC3");
    Check(ports.InPortByte(0x4F) <= 0xFF, "InPortByte stays within a byte");
    FreeLibrary(h);

    std::ifstream file(dir + "\\ecram.bin", std::ios::binary);
    std::vector<unsigned char> ram{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    Check(ram.size() == 0x10000, "ecram.bin holds 65,536 bytes");
    Check(ram.size() == 0x10000 && ram[0xD1F3] == 0x5A && ram[0] == 0xC3, "both bytes reached ecram.bin");

    // A folder that cannot be used: the library says so and reports closed.
    const std::string blocker = dir + "\\not-a-folder";
    std::ofstream(blocker) << "x";
    SetEnvironmentVariableA("VYKSIM_DIR", (blocker + "\\sub").c_str());
    h = LoadLibraryA(dll.c_str());
    Check(h && Bind<int32_t(__stdcall*)()>(h, "IsPortDriverOpen")() == 0, "unusable folder: IsPortDriverOpen gives 0");
    Check(h && Bind<uint16_t(__stdcall*)(uint16_t)>(h, "InPortByte")(0x4F) == 0, "unusable folder: reads give 0");
    if (h)
        FreeLibrary(h);
    return Failures ? 1 : 0;
}
