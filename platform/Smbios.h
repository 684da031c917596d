#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vyk::platform {

// Who the machine says it is, from its firmware's SMBIOS tables (the
// "System Information" structure); empty where it says nothing or cannot
// be read.
struct Machine {
    std::string vendor, product, serial;
};

// The structure table of SMBIOS (as the firmware table API hands it over
// after its 8-byte header): the strings of the first type 1 structure.
Machine ParseSmbiosTable(const uint8_t* table, size_t size);

#ifdef _WIN32
// The firmware table API's SMBIOS.
Machine ReadFirmwareMachine();
#endif

} // namespace vyk::platform
