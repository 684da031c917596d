#include "pd/FlashRange.h"

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/ImageBuffer.h"

namespace vyk::pd {

namespace {

std::string Address(uint32_t address) { return "0x" + HexDigits(address, 6); }

RangeReading Refused(RangeReading reading, RangeRefusal refusal, std::string text)
{
    reading.refusal = refusal;
    reading.text = std::move(text);
    return reading;
}

} // namespace

RangeReading ReadFlashRange(std::string_view startText, std::string_view endText, std::string_view startName,
                            std::string_view endName)
{
    RangeReading reading;
    for (const std::string_view text : {startText, endText}) {
        std::string problem = AddressTextProblem(text);
        if (!problem.empty())
            return Refused(reading, RangeRefusal::AddressText, std::move(problem));
    }
    FlashRange& range = reading.range;
    range.start = ReadAddressField(startText);
    range.end = ReadAddressField(endText);
    range.startBlock = BlockOf(range.start);
    range.endBlock = BlockOf(range.end);
    const std::string start(startText), end(endText), startOption(startName), endOption(endName);
    if (range.startBlock >= range.endBlock)
        return Refused(reading, RangeRefusal::Empty,
                       "range refused: the range runs from the start of " + startOption + "'s block, " +
                           Address(range.FirstAddress()) + " (" + start + "), up to the start of " + endOption +
                           "'s block, " + Address(range.EndAddress()) + " (" + end + "), and holds no byte");
    if (range.endBlock > ImageBufferBlocks)
        return Refused(reading, RangeRefusal::PastFlash,
                       "range refused: " + endOption + " " + end +
                           " reaches past the flash, which ends at 0x03FFFF (256 KiB); the range would run to " +
                           Address(range.EndAddress() - 1));
    return reading;
}

PlacementReading ReadImagePlacement(std::string_view text, std::string_view name)
{
    PlacementReading reading;
    const std::string option(name), typed(text);
    const std::string problem = AddressTextProblem(text);
    if (!problem.empty()) {
        reading.refusal = option + ": " + problem;
        return reading;
    }
    reading.imageAt = ReadAddressField(text);
    if (reading.imageAt % 256 != 0)
        reading.refusal = option + " " + typed + " is not the start of a block; a file saved by 'read --start " +
                          typed + "' begins at its block, " + HexDigits(reading.imageAt & ~0xFFu, 6);
    return reading;
}

} // namespace vyk::pd
