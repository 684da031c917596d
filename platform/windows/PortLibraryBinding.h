#pragma once
#include <cstdint>
#include <string>

#include "hw/IoPort.h"

// A port library ("io.dll", "vykport32.dll", "vyksim.dll") loaded for the
// rest of the process, and calls of its entry points. Libraries and entry
// points travel as void*, so that callers need no Windows header.
namespace vyk::platform {

// Loads exactly the file a full path names (a drive or a UNC path), never a
// bare name through the DLL search order, and with no system error box for a
// file that is not a library. nullptr when it does not load; `error` is then
// the Windows error.
void* LoadByFullPath(const std::wstring& fullPath, unsigned long& error);
// nullptr when the library has no entry point of that name.
void* EntryPoint(void* library, const char* name);

// Every call below leaves the stack as it found it whether the library was
// built with __stdcall exports, as ours are, or with __cdecl: the window
// loads whatever "io.dll" its folder holds, and vykuu whatever file it is
// given.

// IsPortDriverOpen, Is64BitWindows.
int32_t CallWithoutArguments(void* entry);

// The port operations through a library's OutPortByte and InPortByte.
class EntryIoPort final : public IoPort {
public:
    EntryIoPort(void* outPortByte, void* inPortByte) : out_(outPortByte), in_(inPortByte) {}
    void OutPortByte(uint16_t port, uint16_t data) override;
    uint16_t InPortByte(uint16_t port) override;

private:
    void* out_;
    void* in_;
};

} // namespace vyk::platform
