// vyksim.dll: the port library's exports in front of the simulated
// notebook, so the real program runs against it when this file stands as
// io.dll in its working folder. The notebook's state lives in the folder
// named by VYKSIM_DIR, or in the current folder when that is unset.
#include <windows.h>

#include <exception>
#include <memory>
#include <mutex>
#include <string>

#define VYK_PORT_API extern "C"
#include "portlib/VykPort32.h"
#include "sim/SimNotebook.h"

namespace {

std::once_flag Opened;
std::unique_ptr<vyk::sim::SimNotebook> Notebook;

// The folder is opened on first use rather than in DllMain, where file
// work and exceptions have no place; the program asks IsPortDriverOpen first.
vyk::sim::SimNotebook* Sim()
{
    std::call_once(Opened, [] {
        // The process's own environment: the C runtime's copy misses
        // variables set after the program started.
        std::string env(GetEnvironmentVariableA("VYKSIM_DIR", nullptr, 0), '\0');
        const DWORD length = env.empty() ? 0 : GetEnvironmentVariableA("VYKSIM_DIR", env.data(), env.size());
        env.resize(length < env.size() ? length : 0);
        const std::filesystem::path dir = env.empty() ? std::filesystem::current_path() : std::filesystem::path(env);
        try {
            Notebook = vyk::sim::SimNotebook::OpenFolder(dir);
        } catch (const std::exception& e) {
            const std::string message =
                "vyksim: cannot open the simulated notebook in " + dir.string() + ": " + e.what() + "\n";
            OutputDebugStringA(message.c_str());
        }
    });
    return Notebook.get();
}

// A failed write of the notebook's files must not unwind into the program
// through a C export: it is told on the debugger output, and the port
// operation is lost as a real bus would lose it.
void Report(const std::exception& e)
{
    const std::string message = std::string("vyksim: ") + e.what() + "\n";
    OutputDebugStringA(message.c_str());
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    // At process exit (reserved non-null) the notebook's files are already
    // up to date; dropping it on FreeLibrary closes them in good order.
    if (reason == DLL_PROCESS_DETACH && !reserved)
        Notebook.reset();
    return TRUE;
}

int32_t VYK_PORT_CALL IsPortDriverOpen() { return Sim() ? 1 : 0; }

void VYK_PORT_CALL OutPortByte(uint16_t port, uint16_t value)
{
    if (auto* sim = Sim()) {
        try {
            sim->OutPortByte(port, static_cast<uint8_t>(value));
        } catch (const std::exception& e) {
            Report(e);
        }
    }
}

uint16_t VYK_PORT_CALL InPortByte(uint16_t port)
{
    auto* sim = Sim();
    if (!sim)
        return 0;
    try {
        return static_cast<uint16_t>(sim->InPortByte(port) & 0xFF);
    } catch (const std::exception& e) {
        Report(e);
        return 0xFF;
    }
}

int32_t VYK_PORT_CALL Is64BitWindows() { return 0; }

uint8_t VYK_PORT_CALL ReadPortUchar(uint16_t port) { return static_cast<uint8_t>(InPortByte(port)); }
void VYK_PORT_CALL WritePortUchar(uint16_t port, uint8_t value) { OutPortByte(port, value); }

// The simulated notebook has byte ports only and no physical memory.
uint16_t VYK_PORT_CALL ReadPortUshort(uint16_t) { return 0; }
void VYK_PORT_CALL WritePortUshort(uint16_t, uint16_t) {}
uint32_t VYK_PORT_CALL ReadPortUlong(uint32_t) { return 0; }
void VYK_PORT_CALL WritePortUlong(uint32_t, uint32_t) {}
uint8_t* VYK_PORT_CALL MapPhysicalMemory(uint32_t, uint32_t, void** section)
{
    if (section)
        *section = nullptr;
    return nullptr;
}
int32_t VYK_PORT_CALL UnmapPhysicalMemory(void*, uint8_t*) { return 0; }
int32_t VYK_PORT_CALL ReadPhysicalUlong(uint32_t, uint32_t*) { return 0; }
int32_t VYK_PORT_CALL WritePhysicalUlong(uint32_t, uint32_t) { return 0; }
