#include "cli/Checks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>
#include <system_error>

#include "cli/EcSession.h"
#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/ImageBuffer.h"
#include "pd/ImageRules.h"

namespace vyk::cli {

namespace fs = std::filesystem;

namespace {

// A text file (hex records, a listing) flashed as raw bytes would put ASCII
// into the PD's flash and verify it as good.
void CheckImageBytes(const std::string& path, size_t size)
{
    std::vector<uint8_t> bytes(size);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw Failure(Fault::File, "image file " + path + ": cannot open: " + std::strerror(errno));
    const size_t got = std::fread(bytes.data(), 1, size, f);
    std::fclose(f);
    const std::string look = pd::TextImageLook(bytes.data(), got);
    if (!look.empty())
        throw Failure(Fault::File, "image file " + path + " is " + look +
                                    ". vykuu flashes raw binary images (the bytes as they go into the flash, as "
                                    "'read' saves them); convert it to a raw image first");
}

} // namespace

void CheckRange(const RangeOptions& options, JsonSummary& summary, Range& range)
{
    summary.Set("port", options.port);
    summary.Set("start", options.startText);
    summary.Set("end", options.endText);
    for (const auto* text : {&options.startText, &options.endText}) {
        const std::string problem = pd::AddressTextProblem(*text);
        if (!problem.empty())
            throw Failure(Fault::Usage, problem);
    }
    range.start = pd::ReadAddressField(options.startText);
    range.end = pd::ReadAddressField(options.endText);
    range.startBlock = pd::BlockOf(range.start);
    range.endBlock = pd::BlockOf(range.end);
    // Refused here, before the EC is walked into flashing mode for nothing.
    if (range.startBlock >= range.endBlock)
        throw Failure(Fault::RangeRefused,
                    "range refused: the range runs from the start of --start's block, " + Hex(range.FirstAddress(), 6) +
                        " (" + options.startText + "), up to the start of --end's block, " +
                        Hex(range.EndAddress(), 6) + " (" + options.endText + "), and holds no byte");
    if (range.endBlock > pd::ImageBufferBlocks)
        throw Failure(Fault::RangeRefused,
                    "range refused: --end " + options.endText + " reaches past the flash, which ends at 0x03FFFF "
                        "(256 KiB); the range would run to " + Hex(range.EndAddress() - 1, 6));
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
    const std::string problem = pd::AddressTextProblem(options.imageAtText);
    if (!problem.empty())
        throw Failure(Fault::Usage, "--image-at: " + problem);
    imageAt = pd::ReadAddressField(options.imageAtText);
    if (imageAt % 256 != 0)
        throw Failure(Fault::Usage,
                    "--image-at " + options.imageAtText + " is not the start of a block; a file saved by "
                    "'read --start " + options.imageAtText + "' begins at its block, " +
                        pd::HexDigits(imageAt & ~0xFFu, 6));
    summary.Set("imageAt", pd::HexDigits(imageAt, 6));
}

std::string CheckImage(const FlashOptions& options, const Range& range, uint32_t imageAt, Console& console,
                       JsonSummary& summary)
{
    const std::string& path = options.imagePath;
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

    const uint64_t imageEnd = uint64_t{imageAt} + size;
    if (imageEnd > static_cast<uint64_t>(pd::ImageBufferSize))
        throw Failure(Fault::File,
                    "image file " + path + " holds " + std::to_string(size) + " bytes; placed at " + Hex(imageAt, 6) +
                        " it would end at " + Hex(static_cast<uint32_t>(imageEnd), 6) +
                        ", past the 262146 bytes the image buffer takes");
    CheckImageBytes(path, static_cast<size_t>(size));
    if (range.FirstAddress() < imageAt)
        throw Failure(Fault::File,
                    "image file " + path + " begins at flash address " + Hex(imageAt, 6) +
                        " (--image-at), after the range's start " + Hex(range.FirstAddress(), 6) +
                        ": the blocks before it would be written as 0xFF");
    // Not one byte of the file in the range: the flash would be erased and
    // the run reported as a flash. No option makes that a flash.
    if (imageEnd <= range.FirstAddress())
        throw Failure(Fault::File,
                    "image file " + path +
                        (size == 0 ? std::string(" is empty")
                                   : " ends at " + Hex(static_cast<uint32_t>(imageEnd), 6) + ", before the range's start") +
                        ": not one byte of it lies in the range " +
                        pd::AddressRangeText(range.FirstAddress(), range.EndAddress()) +
                        ", which would be written as 0xFF alone; refused, with --allow-short too");
    const pd::ShortImage shortImage = pd::ShortImageOf(imageAt, size, range.FirstAddress(), range.EndAddress());
    if (shortImage.isShort && options.allowShort) {
        const std::string padding = pd::PaddingText(shortImage, range.EndAddress());
        console.Note("image file " + path + " ends at " + Hex(shortImage.imageEnd, 6) + ", before the range's end " +
                     Hex(range.EndAddress(), 6) + ": " + padding + " (--allow-short)");
        summary.Set("paddedBlocks", shortImage.paddedBlocks);
        return padding;
    }
    if (shortImage.isShort && !options.allowShort) {
        const uint32_t rangeLength = range.EndAddress() - range.FirstAddress();
        if (size == rangeLength)
            throw Failure(Fault::File,
                        "image file " + path + " holds " + std::to_string(size) +
                            " bytes, exactly the length of the range " +
                            pd::AddressRangeText(range.FirstAddress(), range.EndAddress()) +
                            ": a file saved by 'read' holds the range alone, from its start. Flash it back with "
                            "--image-at " + pd::HexDigits(range.FirstAddress(), 6));
        std::string text = "image file " + path + " ends at " + Hex(shortImage.imageEnd, 6) +
                           ", before the range's end " + Hex(range.EndAddress(), 6) + ": " +
                           pd::ShortImageAdvice(shortImage, range.FirstAddress(), range.EndAddress(), "--allow-short");
        if (options.imageAtText.empty())
            text += ". (An image is indexed by flash address from 0 unless --image-at gives where its first byte "
                    "belongs: a file saved by 'read --start S' flashes back with --image-at S.)";
        throw Failure(Fault::File, text);
    }
    return {};
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
