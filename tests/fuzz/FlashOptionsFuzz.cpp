// vykuu flash with any --start, --end and --image-at text and any image
// length, through RunFlash itself: it reaches the ports exactly when a
// plain reading of its rules accepts the request, and refuses with the
// rule's exit code otherwise. The image is all zeros: never text. Input:
// flags (--allow-short, verify, --allow-low-range), three bytes of image length,
// then the three texts between NULs (left out: the defaults).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "cli/Commands.h"
#include "tests/fuzz/Fuzz.h"

using namespace vyk;
using namespace vyk::cli;

namespace {

struct PortsReached {};

// Ports that end the run at their first use: every check lies before it.
class NoPorts : public IoPort {
public:
    void OutPortByte(uint16_t, uint16_t) override { throw PortsReached{}; }
    uint16_t InPortByte(uint16_t) override { throw PortsReached{}; }
};

bool Address(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return false;
    value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
    return true;
}

// The exit code of the first rule the request breaks; -1: none, it may go on.
int Expected(const FlashOptions& o, uint64_t length)
{
    uint32_t start = 0, end = 0, at = 0;
    if (!Address(o.range.startText, start) || !Address(o.range.endText, end))
        return ExitUsage;
    const uint64_t first = start >> 8 << 8, last = end >> 8 << 8;
    if (first >= last || last > 0x40000)
        return ExitRangeRefused;
    if (first < 0xC000 && !o.allowLowRange)   // below the default start: asked for, or refused
        return ExitRangeRefused;
    if (!o.imageAtText.empty() && (!Address(o.imageAtText, at) || at % 256 != 0))
        return ExitUsage;
    if (at + length > 0x40002 || at > first || at + length <= first || (at + length < last && !o.allowShort))
        return ExitFile;
    return -1;
}

// The image: a file in memory alone, so no run, however it ends, leaves one.
int ImageFile()
{
    static const int fd = ::memfd_create("vyk-fuzz-image", 0);
    FUZZ_REQUIRE(fd >= 0);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const uint64_t length = (data[1] | data[2] << 8 | data[3] << 16) % 0x40101;
    FUZZ_REQUIRE(::ftruncate(ImageFile(), static_cast<off_t>(length)) == 0);
    FlashOptions options;
    options.imagePath = "/proc/self/fd/" + std::to_string(ImageFile());
    options.allowShort = data[0] & 1;
    options.verify = data[0] & 2;
    options.allowLowRange = data[0] & 4;
    options.allowBattery = true;
    const auto texts = fuzz::Split(fuzz::Text(data + 4, size - 4), '\0');
    if (size > 4)
        options.range.startText = texts[0];
    if (texts.size() > 1)
        options.range.endText = texts[1];
    if (texts.size() > 2)
        options.imageAtText = texts[2];

    NoPorts ports;
    CommonOptions common;
    common.backend.openPorts = &ports;
    Console console(ConsoleOptions{true});
    JsonSummary summary;
    int code = -1;
    try {
        code = RunFlash(common, options, console, summary);
        FUZZ_REQUIRE(code != ExitOk);
    } catch (const PortsReached&) {
    }
    FUZZ_REQUIRE(code == Expected(options, length));
    return 0;
}
