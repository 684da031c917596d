// Fuzz target for the library's recogniser of the EC-access path: any
// sequence of byte port reads and writes. Fed in parallel to a model of the
// real Super I/O chip, every request the recogniser makes must be the EC RAM
// access the chip would have made at that point, at a served address; and
// only writes to 0x4E/0x4F are ever held. So no traffic off the path (another
// index value, another EC-access register, the data port without its
// index) is sent, nor taken as if it had reached the chip.
#include <cstdint>

#include "portlib/EcAccessRecogniser.h"
#include "tests/fuzz/Fuzz.h"
#include "tests/portlib/FakeKernel.h"

using vyk::portlib::EcStepKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vyk::portlib::EcAccessRecogniser r;
    vyk::test::SuperIoChip chip;
    // Two bytes an operation: what (read or write, which port), the value.
    for (size_t i = 0; i + 1 < size; i += 2) {
        static const uint16_t ports[] = {0x4E, 0x4F, 0x4E, 0x4F, 0x4E, 0x4F, 0x4D, 0x50, 0x14E, 0x14F, 0x2E, 0x80};
        const uint8_t what = data[i];
        const uint16_t port = ports[(what >> 1) % 12];
        const uint8_t value = data[i + 1];
        const bool isWrite = !(what & 1);
        const size_t before = chip.ecAccesses.size();
        vyk::portlib::EcStep step;
        if (isWrite) {
            chip.Out(port, value);
            step = r.Out(port, value);
        } else {
            chip.In(port);
            step = r.In(port);
        }
        if (step.kind == EcStepKind::Write || step.kind == EcStepKind::Read) {
            FUZZ_REQUIRE(chip.ecAccesses.size() == before + 1);
            const auto& a = chip.ecAccesses.back();
            FUZZ_REQUIRE(a.isWrite == (step.kind == EcStepKind::Write));
            FUZZ_REQUIRE(a.address == step.address);
            FUZZ_REQUIRE(!a.isWrite || a.value == step.value);
            FUZZ_REQUIRE(VykEcAddressServed(step.address));
        }
        if (step.kind == EcStepKind::Held)
            FUZZ_REQUIRE(isWrite && (port == 0x4E || port == 0x4F));
        if (step.kind == EcStepKind::Refused && step.why == vyk::portlib::Refusal::AddressNotServed)
            FUZZ_REQUIRE(!VykEcAddressServed(step.address) && chip.ecAccesses.size() == before + 1);
    }
    return 0;
}
