#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Smbios.h"

namespace vyk::platform {

// Linux: /sys/class/dmi/id (the serial needs root); Windows: the firmware
// table API.
Machine ReadHostMachine();

// The notebook's power. A desktop has no battery.
struct Power {
    bool haveBattery = false;
    bool onAc = true;
    int percent = -1;   // the battery's charge, -1 when unknown
};

// Linux: the supplies under `root` (/sys/class/power_supply); Windows: the
// system power status.
Power ReadHostPower(const std::filesystem::path& root = "/sys/class/power_supply");

// One supply's attribute file by name ("type", "online", "scope", "status",
// "capacity"): its text, empty when there is none.
using SupplyFiles = std::function<std::string(const char* name)>;

// The power as Linux's supplies tell it; what ReadHostPower makes of the
// folders under its root.
Power PowerOfSupplies(const std::vector<SupplyFiles>& supplies);

} // namespace vyk::platform
