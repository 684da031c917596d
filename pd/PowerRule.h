#pragma once
#include <string>

#include "platform/MachineInfo.h"

namespace vyk::pd {

// Flashing on battery below this charge is refused: a flash cut short by a
// flat battery can leave the PD without firmware.
inline constexpr int LowestBatteryPercent = 30;

// "the notebook runs on battery at 12 % (below 30 %)" for a notebook off the
// charger below LowestBatteryPercent; empty otherwise, or when the charge is
// not known.
inline std::string LowBatteryText(const platform::Power& power)
{
    if (!power.haveBattery || power.onAc || power.percent < 0 || power.percent >= LowestBatteryPercent)
        return {};
    return "the notebook runs on battery at " + std::to_string(power.percent) + " % (below " +
           std::to_string(LowestBatteryPercent) + " %)";
}

} // namespace vyk::pd
