// The fourteen exports of the port-access library (vykport32.dll, loaded
// by the program as io.dll) and of the simulator library vyksim.dll.
// All are __stdcall and exported under these undecorated names.
#pragma once
#include <cstdint>

#ifndef VYK_PORT_API
#define VYK_PORT_API extern "C" __declspec(dllimport)
#endif
#define VYK_PORT_CALL __stdcall

VYK_PORT_API int32_t VYK_PORT_CALL IsPortDriverOpen();
VYK_PORT_API void VYK_PORT_CALL OutPortByte(uint16_t port, uint16_t value);
VYK_PORT_API uint16_t VYK_PORT_CALL InPortByte(uint16_t port);
VYK_PORT_API int32_t VYK_PORT_CALL Is64BitWindows();

VYK_PORT_API uint8_t VYK_PORT_CALL ReadPortUchar(uint16_t port);
VYK_PORT_API void VYK_PORT_CALL WritePortUchar(uint16_t port, uint8_t value);
// Kept for callers that bind them; vykport32.dll refuses them all (0, or
// nothing done) and says so on the debugger output.
VYK_PORT_API uint16_t VYK_PORT_CALL ReadPortUshort(uint16_t port);
VYK_PORT_API void VYK_PORT_CALL WritePortUshort(uint16_t port, uint16_t value);
VYK_PORT_API uint32_t VYK_PORT_CALL ReadPortUlong(uint32_t port);
VYK_PORT_API void VYK_PORT_CALL WritePortUlong(uint32_t port, uint32_t value);
VYK_PORT_API uint8_t* VYK_PORT_CALL MapPhysicalMemory(uint32_t physical, uint32_t size, void** section);
VYK_PORT_API int32_t VYK_PORT_CALL UnmapPhysicalMemory(void* section, uint8_t* linear);
VYK_PORT_API int32_t VYK_PORT_CALL ReadPhysicalUlong(uint32_t physical, uint32_t* value);
VYK_PORT_API int32_t VYK_PORT_CALL WritePhysicalUlong(uint32_t physical, uint32_t value);

// The export names, in the order above.
inline constexpr const char* VykPortExportNames[14] = {
    "IsPortDriverOpen", "OutPortByte",     "InPortByte",          "Is64BitWindows",    "ReadPortUchar",
    "WritePortUchar",   "ReadPortUshort",  "WritePortUshort",     "ReadPortUlong",     "WritePortUlong",
    "MapPhysicalMemory", "UnmapPhysicalMemory", "ReadPhysicalUlong", "WritePhysicalUlong",
};
