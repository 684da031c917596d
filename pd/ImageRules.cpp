#include "pd/ImageRules.h"

#include "pd/AddressField.h"
#include "pd/HexText.h"

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

} // namespace vyk::pd
