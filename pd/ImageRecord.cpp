#include "pd/ImageRecord.h"

#include "pd/ClockText.h"
#include "pd/HexText.h"
#include "platform/Sha256.h"

namespace vyk::pd {

Provenance ProvenanceOf(const std::string& toolVersion, int port, const FlashRange& range,
                        const platform::Machine& machine, const uint8_t* data, size_t size)
{
    return {.port = port, .start = HexDigits(range.FirstAddress(), 6), .end = HexDigits(range.EndAddress(), 6),
            .vendor = machine.vendor, .product = machine.product, .serial = machine.serial,
            .toolVersion = toolVersion, .time = UtcTimeText(std::chrono::system_clock::now()),
            .bytes = static_cast<int64_t>(size), .sha256 = platform::Sha256Hex(data, size)};
}

std::vector<std::string> ImageRecordProblems(const Provenance& saved, const std::string& recordPath,
                                             const ImageUse& use)
{
    std::vector<std::string> problems;
    if (use.sha256 != saved.sha256)
        problems.push_back("it does not match its record " + recordPath + ": its SHA-256 is " + use.sha256 +
                           ", the record's " + saved.sha256 + " (saved " + saved.time +
                           "): the file has changed since it was saved");
    // Its first byte belongs where its read began: placed elsewhere (often
    // a saved read flashed without --image-at) the range would take other
    // bytes and, with --allow-short, 0xFF, and verify as good.
    if (saved.start != HexDigits(use.imageAt, 6))
        problems.push_back("it was read from flash address 0x" + saved.start + " on (" + recordPath +
                           "), so its first byte belongs there; this flash places it at 0x" +
                           HexDigits(use.imageAt, 6) + ": give --image-at " + saved.start);
    if (saved.port != use.port)
        problems.push_back("it was read from port " + std::to_string(saved.port) + " (" + recordPath +
                           "); this flash is to port " + std::to_string(use.port));
    if (!saved.serial.empty() && !use.serial.empty() && saved.serial != use.serial)
        problems.push_back("it was read from the notebook with serial " + saved.serial + " (" + recordPath +
                           "); this notebook's serial is " + use.serial);
    return problems;
}

} // namespace vyk::pd
