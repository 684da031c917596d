#include "cli/Checks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>
#include <system_error>

#include "cli/EcSession.h"
#include "pd/HexText.h"
#include "pd/ImageRules.h"

namespace vyk::cli {

namespace fs = std::filesystem;

namespace {

// The image file's bytes, for the text-file check.
void CheckImageBytes(const std::string& path, size_t size)
{
    std::vector<uint8_t> bytes(size);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw Failure(Fault::File, "image file " + path + ": cannot open: " + std::strerror(errno));
    const size_t got = std::fread(bytes.data(), 1, size, f);
    std::fclose(f);
    const std::string refusal = pd::TextImageRefusal(path, bytes.data(), got);
    if (!refusal.empty())
        throw Failure(Fault::File, refusal);
}

// The image file's size; refused when it is no plain file that opens.
uint64_t ImageFileSize(const std::string& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && status.type() != fs::file_type::not_found)
        throw Failure(Fault::File, "image file " + path + ": " + ec.message());
    if (!fs::is_regular_file(status))
        throw Failure(Fault::File,
                    "image file " + path +
                        (status.type() == fs::file_type::not_found ? std::string(" does not exist")
                                                                   : std::string(" is ") + KindOf(status.type())));
    const auto size = fs::file_size(path, ec);
    if (ec)
        throw Failure(Fault::File, "image file " + path + ": " + ec.message());
    if (std::FILE* f = std::fopen(path.c_str(), "rb"))
        std::fclose(f);
    else
        throw Failure(Fault::File, "image file " + path + ": cannot open: " + std::strerror(errno));
    return size;
}

} // namespace

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
    const std::string& path = options.imagePath;
    const uint64_t size = ImageFileSize(path);
    const std::string tooLong = pd::ImageSizeProblem(path, size, imageAt);
    if (!tooLong.empty())
        throw Failure(Fault::File, tooLong);
    CheckImageBytes(path, static_cast<size_t>(size));
    const pd::ImageFit fit = pd::FitImage({path, size, imageAt, !options.imageAtText.empty()}, range,
                                          options.allowShort);
    if (!fit.refusal.empty())
        throw Failure(Fault::File, fit.refusal);
    if (!fit.padding.empty()) {
        console.Note(fit.note);
        summary.Set("paddedBlocks", fit.shortImage.paddedBlocks);
    }
    return fit.padding;
}

OutputFile::Rules OutputRules(const CommonOptions& common, const char* noun, bool keepExisting,
                              bool keepExistingTarget)
{
    OutputFile::Rules rules;
    rules.keepExisting = keepExisting;
    rules.keepExistingTarget = keepExistingTarget;
    rules.refusedFolder = common.backend.simDir;
    rules.noun = noun;
    return rules;
}

void CheckPower(const Power& power, bool allowBattery, Console& console)
{
    if (power.haveBattery && !power.onAc && power.percent >= 0 && power.percent < LowestBatteryPercent) {
        const std::string text = "the notebook runs on battery at " + std::to_string(power.percent) + " % (below " +
                                 std::to_string(LowestBatteryPercent) + " %)";
        if (!allowBattery)
            throw Failure(Fault::OnBattery,
                        "flash refused: " + text +
                            "; a flash cut short by a flat battery can leave the PD without firmware. "
                            "Connect the charger, or give --allow-battery");
        console.Note("flashing although " + text + " (--allow-battery)");
    }
}

} // namespace vyk::cli
