#include "cli/Checks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/EcSession.h"
#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/ImageBuffer.h"

namespace vyk::cli {

namespace fs = std::filesystem;

void CheckRange(const RangeOptions& options, JsonSummary& summary, Range& range)
{
    summary.Set("port", options.port);
    summary.Set("start", options.startText);
    summary.Set("end", options.endText);
    for (const auto* text : {&options.startText, &options.endText}) {
        const std::string problem = pd::AddressTextProblem(*text);
        if (!problem.empty())
            throw Failure(ExitUsage, problem);
    }
    range.start = pd::ReadAddressField(options.startText);
    range.end = pd::ReadAddressField(options.endText);
    range.startBlock = pd::BlockOf(range.start);
    range.endBlock = pd::BlockOf(range.end);
    // Refused here, before the EC is walked into flashing mode for nothing.
    if (range.startBlock >= range.endBlock)
        throw Failure(ExitRangeRefused,
                    "range refused: start block " + Hex(range.startBlock, 4) + " (" + options.startText +
                        ") is not below end block " + Hex(range.endBlock, 4) + " (" + options.endText + ")");
    if (range.endBlock > pd::ImageBufferBlocks)
        throw Failure(ExitRangeRefused,
                    "range refused: end block " + Hex(range.endBlock, 4) +
                        " lies past the flash's last block 0x03FF (256 KiB)");
    summary.Set("firstBlock", pd::HexDigits(range.startBlock, 4));
    summary.Set("endBlock", pd::HexDigits(range.endBlock, 4));
    summary.Set("blocks", range.Blocks());
}

std::string BlocksText(const Range& range, int port)
{
    return std::to_string(range.Blocks()) + " blocks " + Hex(range.startBlock, 4) + ".." +
           Hex(range.endBlock - 1, 4) + " of port " + std::to_string(port);
}

void CheckImageAt(const FlashOptions& options, JsonSummary& summary, uint32_t& imageAt)
{
    imageAt = 0;
    if (options.imageAtText.empty())
        return;
    const std::string problem = pd::AddressTextProblem(options.imageAtText);
    if (!problem.empty())
        throw Failure(ExitUsage, "--image-at: " + problem);
    imageAt = pd::ReadAddressField(options.imageAtText);
    if (imageAt % 256 != 0)
        throw Failure(ExitUsage,
                    "--image-at " + options.imageAtText + " is not the start of a block; a file saved by "
                    "'read --start " + options.imageAtText + "' begins at its block, " +
                        pd::HexDigits(imageAt & ~0xFFu, 6));
    summary.Set("imageAt", pd::HexDigits(imageAt, 6));
}

void CheckImage(const FlashOptions& options, const Range& range, uint32_t imageAt, Console& console,
               JsonSummary& summary)
{
    const std::string& path = options.imagePath;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && status.type() != fs::file_type::not_found)
        throw Failure(ExitFile, "image file " + path + ": " + ec.message());
    if (!fs::is_regular_file(status))
        throw Failure(ExitFile,
                    "image file " + path +
                        (status.type() == fs::file_type::not_found ? std::string(" does not exist")
                                                                   : std::string(" is ") + KindOf(status.type())));
    const auto size = fs::file_size(path, ec);
    if (ec)
        throw Failure(ExitFile, "image file " + path + ": " + ec.message());
    if (std::FILE* f = std::fopen(path.c_str(), "rb"))
        std::fclose(f);
    else
        throw Failure(ExitFile, "image file " + path + ": cannot open: " + std::strerror(errno));

    const uint64_t imageEnd = uint64_t{imageAt} + size;
    if (imageEnd > static_cast<uint64_t>(pd::ImageBufferSize))
        throw Failure(ExitFile,
                    "image file " + path + " holds " + std::to_string(size) + " bytes; placed at " + Hex(imageAt, 6) +
                        " it would end at " + Hex(static_cast<uint32_t>(imageEnd), 6) +
                        ", past the 262146 bytes the image buffer takes");
    if (range.FirstAddress() < imageAt)
        throw Failure(ExitFile,
                    "image file " + path + " begins at flash address " + Hex(imageAt, 6) +
                        " (--image-at), after the range's start " + Hex(range.FirstAddress(), 6) +
                        ": the blocks before it would be written as 0xFF");
    // Not one byte of the file in the range: the flash would be erased and
    // the run reported as a flash. No option makes that a flash.
    if (imageEnd <= range.FirstAddress())
        throw Failure(ExitFile,
                    "image file " + path +
                        (size == 0 ? std::string(" is empty")
                                   : " ends at " + Hex(static_cast<uint32_t>(imageEnd), 6) + ", before the range's start") +
                        ": not one byte of it lies in the range " + Hex(range.FirstAddress(), 6) + ".." +
                        Hex(range.EndAddress(), 6) + ", which would be written as 0xFF alone; refused, with "
                        "--allow-short too");
    if (imageEnd < range.EndAddress() && options.allowShort) {
        const uint32_t end = static_cast<uint32_t>(imageEnd);
        const uint32_t padded = range.endBlock - ((end + 255) >> 8);
        std::string text = "image file " + path + " ends at " + Hex(end, 6) + ", before the range's end " +
                           Hex(range.EndAddress(), 6) + ": " + std::to_string(padded) + " of the range's " +
                           std::to_string(range.Blocks()) + " blocks go out as 0xFF alone";
        if (end % 256 != 0)
            text += ", and block " + Hex(end >> 8, 4) + " holds 0xFF after its first " + std::to_string(end % 256) +
                    " bytes";
        console.Note(text + " (--allow-short)");
        summary.Set("paddedBlocks", padded);
    }
    if (imageEnd < range.EndAddress() && !options.allowShort) {
        const uint32_t rangeLength = range.EndAddress() - range.FirstAddress();
        if (size == rangeLength)
            throw Failure(ExitFile,
                        "image file " + path + " holds " + std::to_string(size) +
                            " bytes, exactly the length of the range " + Hex(range.FirstAddress(), 6) + ".." +
                            Hex(range.EndAddress(), 6) +
                            ": a file saved by 'read' holds the range alone, from its start. Flash it back with "
                            "--image-at " + pd::HexDigits(range.FirstAddress(), 6));
        throw Failure(ExitFile,
                    "image file " + path + " ends at " + Hex(static_cast<uint32_t>(imageEnd), 6) +
                        ", before the range's end " + Hex(range.EndAddress(), 6) +
                        ": the blocks past it would be written as 0xFF. An image is indexed by flash address from 0 "
                        "unless --image-at gives where its first byte belongs (a file saved by 'read --start S' "
                        "flashes back with --image-at S). Use --allow-short to flash it anyway");
    }
}

OutputFile::Rules OutputRules(const CommonOptions& common, const char* noun, bool keepExisting)
{
    OutputFile::Rules rules;
    rules.keepExisting = keepExisting;
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
            throw Failure(ExitOnBattery,
                        "flash refused: " + text +
                            "; a flash cut short by a flat battery can leave the PD without firmware. "
                            "Connect the charger, or give --allow-battery");
        console.Note("flashing although " + text + " (--allow-battery)");
    }
}

} // namespace vyk::cli
