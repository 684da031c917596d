#include "cli/Checks.h"

#include "cli/Connection.h"
#include "pd/HexText.h"
#include "pd/ImageRules.h"
#include "pd/PowerRule.h"

namespace vyk::cli {

void CheckRange(const RangeOptions& options, JsonSummary& summary, Range& range)
{
    summary.Set("port", options.port);
    summary.Set("start", options.startText);
    summary.Set("end", options.endText);
    const pd::RangeReading reading = pd::ReadFlashRange(options.startText, options.endText);
    // Refused here, before the EC is walked into flashing mode for nothing.
    if (reading.refusal != pd::RangeRefusal::None)
        throw Failure(reading.refusal == pd::RangeRefusal::AddressText ? Fault::Usage : Fault::RangeRefused,
                      reading.text);
    range = reading.range;
    summary.Set("firstBlock", pd::HexDigits(range.startBlock, 4));
    summary.Set("endBlock", pd::HexDigits(range.endBlock, 4));
    summary.Set("blocks", range.Blocks());
}

std::string BlocksText(const Range& range, int port)
{
    return std::to_string(range.Blocks()) + " blocks " +
           pd::AddressRangeText(range.FirstAddress(), range.EndAddress()) + " of port " + std::to_string(port);
}

void CheckFlashRange(const FlashOptions& options, const Range& range, Console& console)
{
    const std::string problem = pd::LowRangeProblem(range.FirstAddress(), range.EndAddress(), options.range.startText);
    if (problem.empty())
        return;
    if (!options.allowLowRange)
        throw Failure(Fault::RangeRefused, "range refused: " + problem +
                                            ". Give --allow-low-range to flash there all the same (a read there is "
                                            "allowed)");
    console.Note("flashing below " + Hex(pd::LowestDefaultAddress, 6) + " (--allow-low-range): " + problem);
}

void CheckImageAt(const FlashOptions& options, JsonSummary& summary, uint32_t& imageAt)
{
    imageAt = 0;
    if (options.imageAtText.empty())
        return;
    const pd::PlacementReading placement = pd::ReadImagePlacement(options.imageAtText);
    if (!placement.refusal.empty())
        throw Failure(Fault::Usage, placement.refusal);
    imageAt = placement.imageAt;
    summary.Set("imageAt", pd::HexDigits(imageAt, 6));
}

std::string CheckImage(const FlashOptions& options, const Range& range, uint32_t imageAt, Console& console,
                       JsonSummary& summary)
{
    const pd::ImageFit fit =
        pd::CheckImageFile({options.imagePath, 0, imageAt, !options.imageAtText.empty()}, range, options.allowShort);
    if (!fit.refusal.empty())
        throw Failure(Fault::File, fit.refusal);
    if (!fit.padding.empty()) {
        console.Note(fit.note);
        summary.Set("paddedBlocks", fit.shortImage.paddedBlocks);
    }
    return fit.padding;
}

platform::OutputFile::Rules OutputRules(const CommonOptions& common, const char* noun, bool keepExisting,
                              bool keepExistingTarget)
{
    platform::OutputFile::Rules rules;
    rules.keepExisting = keepExisting;
    rules.keepExistingTarget = keepExistingTarget;
    rules.refusedFolder = common.backend.simDir;
    rules.noun = noun;
    return rules;
}

void CheckPower(const platform::Power& power, bool allowBattery, Console& console)
{
    const std::string text = pd::LowBatteryText(power);
    if (text.empty())
        return;
    if (!allowBattery)
        throw Failure(Fault::OnBattery, "flash refused: " + text +
                                            "; a flash cut short by a flat battery can leave the PD without "
                                            "firmware. Connect the charger, or give --allow-battery");
    console.Note("flashing although " + text + " (--allow-battery)");
}

} // namespace vyk::cli
