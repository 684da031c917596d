#include "pd/ImageRules.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/ImageBuffer.h"
#include "platform/OutputFile.h"

namespace vyk::pd {

namespace {

std::string Address(uint32_t address) { return "0x" + HexDigits(address, 6); }

bool IsHexDigit(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool IsPrintable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }
bool IsTextByte(uint8_t c) { return IsPrintable(c) || c == '\n' || c == '\r' || c == '\t'; }

// The printable start of the first line, short enough for one message.
std::string FirstLine(const uint8_t* data, size_t size)
{
    std::string line;
    for (size_t i = 0; i < size && line.size() < 24 && IsPrintable(data[i]); ++i)
        line += static_cast<char>(data[i]);
    return line;
}

// `count` hex digits from data[from] on.
bool HexDigitsAt(const uint8_t* data, size_t size, size_t from, size_t count)
{
    if (size < from + count)
        return false;
    for (size_t i = from; i < from + count; ++i)
        if (!IsHexDigit(data[i]))
            return false;
    return true;
}

// "@C000" alone on the first line: 1 to 8 hex digits, then a line break.
// A marker and one digit alone would refuse one raw image in 3,000.
bool TiTxtAddressLine(const uint8_t* data, size_t size)
{
    size_t i = 1;
    while (i < size && i <= 8 && IsHexDigit(data[i]))
        ++i;
    return i > 1 && i < size && (data[i] == '\r' || data[i] == '\n');
}

// A short file refused: the range it covers is the way to flash it. A file
// exactly as long as the range is most likely a saved read flashed at 0.
std::string ShortImageRefusal(const ImageFile& file, const ShortImage& image, const FlashRange& range,
                              std::string_view padOption)
{
    const std::string path(file.path);
    const uint32_t rangeLength = range.EndAddress() - range.FirstAddress();
    if (file.size == rangeLength)
        return "image file " + path + " holds " + std::to_string(file.size) +
               " bytes, exactly the length of the range " + AddressRangeText(range.FirstAddress(), range.EndAddress()) +
               ": a file saved by 'read' holds the range alone, from its start. Flash it back with --image-at " +
               HexDigits(range.FirstAddress(), 6);
    std::string text = "image file " + path + " ends at " + Address(image.imageEnd) + ", before the range's end " +
                       Address(range.EndAddress()) + ": " +
                       ShortImageAdvice(image, range.FirstAddress(), range.EndAddress(), padOption);
    if (!file.imageAtGiven)
        text += ". (An image is indexed by flash address from 0 unless --image-at gives where its first byte "
                "belongs: a file saved by 'read --start S' flashes back with --image-at S.)";
    return text;
}

} // namespace

std::string AddressRangeText(uint32_t first, uint32_t end)
{
    return Address(first) + ".." + Address(end - 1);
}

std::string LowRangeProblem(uint32_t firstAddress, uint32_t endAddress, std::string_view startText)
{
    if (!StartsBelowDefault(firstAddress))
        return {};
    std::string text = "the range " + AddressRangeText(firstAddress, endAddress) + " starts below " +
                       Address(LowestDefaultAddress) +
                       ", the default start: no default range writes there, and it may hold the controller's boot "
                       "code";
    // "C0" typed back from a block number: the address that block starts at.
    const uint32_t typed = ReadAddressField(startText);
    if (!startText.empty() && startText.size() <= 4 && typed != 0 && (typed << 8) >= LowestDefaultAddress &&
        (typed << 8) < 0x1000000)
        text += ". Addresses are flash addresses: " + std::string(startText) + " is " + Address(typed) +
                "; block " + std::string(startText) + " starts at " + Address(typed << 8) + " (--start " +
                HexDigits(typed << 8, 6) + ")";
    return text;
}

std::string TextImageLook(const uint8_t* data, size_t size)
{
    if (size == 0)
        return {};
    const std::string starts = ": it starts with \"" + FirstLine(data, size) + "\"";
    if (data[0] == ':' && HexDigitsAt(data, size, 1, 8))
        return "an Intel HEX text file" + starts;
    if (data[0] == '@' && TiTxtAddressLine(data, size))
        return "a TI-TXT hex text file" + starts;
    if (data[0] == 'S' && size > 1 && data[1] >= '0' && data[1] <= '9' && HexDigitsAt(data, size, 2, 4))
        return "a Motorola S-record text file" + starts;
    for (size_t i = 0; i < size; ++i)
        if (!IsTextByte(data[i]))
            return {};
    return "a text file: all " + std::to_string(size) + " bytes are printable ASCII and line breaks" + starts;
}

ShortImage ShortImageOf(uint32_t imageAt, uint64_t size, uint32_t rangeFirst, uint32_t rangeEnd)
{
    ShortImage image;
    const uint64_t end = uint64_t{imageAt} + size;
    if (end <= rangeFirst || end >= rangeEnd)
        return image;
    image.isShort = true;
    image.imageEnd = static_cast<uint32_t>(end);
    image.coveredEnd = (image.imageEnd + 255) & ~0xFFu;
    image.paddedBlocks = (rangeEnd - image.coveredEnd) >> 8;
    image.partialBytes = image.imageEnd % 256;
    return image;
}

std::string ShortImageAdvice(const ShortImage& image, uint32_t rangeFirst, uint32_t rangeEnd,
                             std::string_view padOption)
{
    std::string text = "it covers " + AddressRangeText(rangeFirst, image.imageEnd) + " of the range " +
                       AddressRangeText(rangeFirst, rangeEnd) + ". To flash what it holds, give the range it covers: "
                       "--start " + HexDigits(rangeFirst, 6) + " --end " + HexDigits(image.coveredEnd, 6);
    if (image.partialBytes != 0)
        text += " (its last block " + AddressRangeText(image.coveredEnd - 256, image.coveredEnd) + " holds " +
                std::to_string(image.partialBytes) + " bytes of it, the rest as 0xFF)";
    text += ". " + std::string(padOption) + " would instead write the other " + std::to_string(image.paddedBlocks) +
            " blocks, " + AddressRangeText(image.coveredEnd, rangeEnd) + ", as 0xFF: that erases them";
    return text;
}

std::string PaddingText(const ShortImage& image, uint32_t rangeEnd)
{
    if (!image.isShort)
        return {};
    std::string text;
    if (image.paddedBlocks != 0)
        text = std::to_string(image.paddedBlocks) + " block" + (image.paddedBlocks == 1 ? "" : "s") + " (" +
               AddressRangeText(image.coveredEnd, rangeEnd) + ")";
    if (image.partialBytes != 0)
        text += (text.empty() ? "" : " and ") + std::string("the last ") + std::to_string(256 - image.partialBytes) +
                " bytes of block " + AddressRangeText(image.coveredEnd - 256, image.coveredEnd);
    return text + " written as 0xFF padding";
}

std::string ImageSizeProblem(std::string_view path, uint64_t size, uint32_t imageAt)
{
    const uint64_t imageEnd = uint64_t{imageAt} + size;
    if (imageEnd > static_cast<uint64_t>(ImageBufferSize))
        return "image file " + std::string(path) + " holds " + std::to_string(size) + " bytes; placed at " +
               Address(imageAt) + " it would end at " + Address(static_cast<uint32_t>(imageEnd)) +
               ", past the 262146 bytes the image buffer takes";
    return {};
}

// A text file (hex records, a listing) flashed as raw bytes would put ASCII
// into the PD's flash and verify it as good.
std::string TextImageRefusal(std::string_view path, const uint8_t* data, size_t size)
{
    const std::string look = TextImageLook(data, size);
    if (look.empty())
        return {};
    return "image file " + std::string(path) + " is " + look +
           ". vykuu flashes raw binary images (the bytes as they go into the flash, as 'read' saves them); convert "
           "it to a raw image first";
}

ImageFit FitImage(const ImageFile& file, const FlashRange& range, bool allowShort, std::string_view padOption)
{
    ImageFit fit;
    const std::string path(file.path);
    const uint32_t imageAt = file.imageAt;
    const uint64_t imageEnd = uint64_t{imageAt} + file.size;
    if (range.FirstAddress() < imageAt) {
        fit.refusal = "image file " + path + " begins at flash address " + Address(imageAt) +
                      " (--image-at), after the range's start " + Address(range.FirstAddress()) +
                      ": the blocks before it would be written as 0xFF";
        return fit;
    }
    // Not one byte of the file in the range: the flash would be erased and
    // the run reported as a flash. No option makes that a flash.
    if (imageEnd <= range.FirstAddress()) {
        fit.refusal = "image file " + path +
                      (file.size == 0 ? std::string(" is empty")
                                      : " ends at " + Address(static_cast<uint32_t>(imageEnd)) +
                                            ", before the range's start") +
                      ": not one byte of it lies in the range " +
                      AddressRangeText(range.FirstAddress(), range.EndAddress()) +
                      ", which would be written as 0xFF alone; refused, with " + std::string(padOption) + " too";
        return fit;
    }
    fit.shortImage = ShortImageOf(imageAt, file.size, range.FirstAddress(), range.EndAddress());
    if (!fit.shortImage.isShort)
        return fit;
    if (!allowShort) {
        fit.refusal = ShortImageRefusal(file, fit.shortImage, range, padOption);
        return fit;
    }
    fit.padding = PaddingText(fit.shortImage, range.EndAddress());
    fit.note = "image file " + path + " ends at " + Address(fit.shortImage.imageEnd) + ", before the range's end " +
               Address(range.EndAddress()) + ": " + fit.padding + " (" + std::string(padOption) + ")";
    return fit;
}

namespace {

namespace fs = std::filesystem;

// The image file's size; refused when it is no plain file that opens.
std::string ImageFileSize(const std::string& path, uint64_t& size)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && status.type() != fs::file_type::not_found)
        return "image file " + path + ": " + ec.message();
    if (!fs::is_regular_file(status))
        return "image file " + path +
               (status.type() == fs::file_type::not_found ? std::string(" does not exist")
                                                          : std::string(" is ") + platform::KindOf(status.type()));
    size = fs::file_size(path, ec);
    if (ec)
        return "image file " + path + ": " + ec.message();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return "image file " + path + ": cannot open: " + std::strerror(errno);
    std::fclose(f);
    return {};
}

// The image file's bytes, for the text-file check.
std::string ImageBytesRefusal(const std::string& path, size_t size)
{
    std::vector<uint8_t> bytes(size);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return "image file " + path + ": cannot open: " + std::strerror(errno);
    const size_t got = std::fread(bytes.data(), 1, size, f);
    std::fclose(f);
    return TextImageRefusal(path, bytes.data(), got);
}

} // namespace

ImageFit CheckImageFile(ImageFile file, const FlashRange& range, bool allowShort)
{
    const std::string path(file.path);
    ImageFit refused;
    refused.refusal = ImageFileSize(path, file.size);
    if (refused.refusal.empty())
        refused.refusal = ImageSizeProblem(path, file.size, file.imageAt);
    if (refused.refusal.empty())
        refused.refusal = ImageBytesRefusal(path, static_cast<size_t>(file.size));
    return refused.refusal.empty() ? FitImage(file, range, allowShort) : refused;
}

} // namespace vyk::pd
