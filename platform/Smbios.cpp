#include "platform/Smbios.h"

#include <algorithm>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vyk::platform {

Machine ParseSmbiosTable(const uint8_t* table, size_t size)
{
    Machine machine;
    size_t at = 0;
    // Each structure: type, length of its formatted part, handle, the
    // formatted part, then its strings, each ended by NUL, ended by a NUL.
    while (at + 4 <= size) {
        const uint8_t type = table[at];
        const uint8_t length = table[at + 1];
        if (length < 4 || at + length > size)
            break;
        size_t strings = at + length;
        size_t end = strings;
        while (end + 1 < size && !(table[end] == 0 && table[end + 1] == 0))
            ++end;
        if (type == 1) {
            // Offsets 4, 5 and 7 of System Information: string numbers from 1.
            const auto text = [&](size_t offset) -> std::string {
                if (offset >= length || table[at + offset] == 0)
                    return {};
                size_t p = strings;
                for (int n = 1; p < end + 1; ++n) {
                    size_t q = p;
                    while (q < size && table[q] != 0)
                        ++q;
                    if (n == table[at + offset])
                        return std::string(reinterpret_cast<const char*>(table + p), q - p);
                    if (q == p)
                        break;
                    p = q + 1;
                }
                return {};
            };
            machine.vendor = text(4);
            machine.product = text(5);
            machine.serial = text(7);
            return machine;
        }
        if (type == 127)   // end of table
            break;
        at = end + 2;
    }
    return machine;
}

#ifdef _WIN32

Machine ReadFirmwareMachine()
{
    const DWORD provider = 0x52534D42;   // 'RSMB'
    const UINT size = GetSystemFirmwareTable(provider, 0, nullptr, 0);
    if (size <= 8)
        return {};
    std::vector<uint8_t> data(size);
    if (GetSystemFirmwareTable(provider, 0, data.data(), size) != size)
        return {};
    // RawSMBIOSData: four version bytes and the table's length, then the table.
    const uint32_t length = data[4] | data[5] << 8 | data[6] << 16 | static_cast<uint32_t>(data[7]) << 24;
    return ParseSmbiosTable(data.data() + 8, std::min<size_t>(length, size - 8));
}

#endif

} // namespace vyk::platform
