#include "platform/MachineInfo.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vyk::platform {

namespace fs = std::filesystem;

namespace {
// A sysfs value: its first line, without the blanks and CR a writer may leave.
std::string FirstLine(std::string_view text)
{
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r'))
        text.remove_suffix(1);
    return std::string(text);
}
} // namespace

#ifdef _WIN32

Machine ReadHostMachine()
{
    return ReadFirmwareMachine();
}

Power ReadHostPower(const fs::path&)
{
    Power power;
    SYSTEM_POWER_STATUS status{};
    if (!GetSystemPowerStatus(&status))
        return power;
    // 128: no system battery; 255: unknown.
    power.haveBattery = status.BatteryFlag != 128 && status.BatteryFlag != 255;
    power.onAc = status.ACLineStatus != 0;
    power.percent = status.BatteryLifePercent <= 100 ? status.BatteryLifePercent : -1;
    return power;
}

#else

namespace {
std::string FileFirstLine(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}
} // namespace

Machine ReadHostMachine()
{
    const fs::path dmi = "/sys/class/dmi/id";
    return {FirstLine(FileFirstLine(dmi / "sys_vendor")), FirstLine(FileFirstLine(dmi / "product_name")),
            FirstLine(FileFirstLine(dmi / "product_serial"))};
}

Power ReadHostPower(const fs::path& root)
{
    std::vector<SupplyFiles> supplies;
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        supplies.push_back([folder = it->path()](const char* name) { return FileFirstLine(folder / name); });
    return PowerOfSupplies(supplies);
}

#endif

Power PowerOfSupplies(const std::vector<SupplyFiles>& supplies)
{
    Power power;
    bool mains = false, mainsOnline = false, charging = false;
    int sum = 0, batteries = 0;
    for (const SupplyFiles& files : supplies) {
        const auto value = [&](const char* name) { return FirstLine(files(name)); };
        const std::string type = value("type");
        if (type == "Mains" || type == "USB") {
            mains = true;
            mainsOnline = mainsOnline || value("online") == "1";
        } else if (type == "Battery") {
            // Peripherals' batteries (a mouse) do not power the notebook.
            if (value("scope") == "Device")
                continue;
            power.haveBattery = true;
            const std::string status = value("status");
            charging = charging || status == "Charging" || status == "Full";
            // A charge outside 0..100 % is none: it counts as unknown.
            const std::string capacity = value("capacity");
            const char* const last = capacity.data() + capacity.size();
            int percent = -1;
            if (!capacity.empty() && capacity.find_first_not_of("0123456789") == std::string::npos &&
                std::from_chars(capacity.data(), last, percent).ptr == last && percent <= 100) {
                sum += percent;
                ++batteries;
            }
        }
    }
    power.onAc = !power.haveBattery || mainsOnline || (!mains && charging);
    power.percent = batteries ? sum / batteries : -1;
    return power;
}

} // namespace vyk::platform
