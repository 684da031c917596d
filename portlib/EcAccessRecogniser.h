// Follows the byte port traffic a caller of the library writes and finds in
// it the EC RAM accesses: 0x4E <- 0x2E, 0x4F <- EC-access register (0x11,
// 0x10, 0x12), 0x4E <- 0x2F, 0x4F <- its value. The address bytes are held;
// the data register's write (or the read of 0x4F behind it) is the one EC
// RAM access the driver is asked for. Plain code: the host tests and the
// fuzzer run it as the library does.
#pragma once
#include <cstdint>

namespace vyk::portlib {

enum class EcStepKind {
    Held,    // taken into the held state; nothing to send
    Read,    // read the EC RAM byte at address
    Write,   // write value to the EC RAM byte at address
    Refused, // not sent: off the EC-access path, or an address not served
};

enum class Refusal {
    None,
    OffPath,           // another port, index value or EC-access register, or the data port without its index
    AddressNotServed,  // the path is right, the EC RAM address is outside the mailbox
};

struct EcStep {
    EcStepKind kind = EcStepKind::Held;
    uint16_t address = 0;
    uint8_t value = 0;
    Refusal why = Refusal::None;
    bool operator==(const EcStep&) const = default;
};

class EcAccessRecogniser {
public:
    // A byte written to a port (the low 8 bits of what the caller gave).
    EcStep Out(uint16_t port, uint8_t value);
    // A byte read from a port.
    EcStep In(uint16_t port);

private:
    static constexpr int Unknown = -1;
    // What the Super I/O chip would hold had every accepted write reached
    // it: its index register, the EC-access register selected, the two
    // address bytes. A refused write leaves its register unknown, so that no
    // later access is read as if it had gone through.
    int index_ = Unknown;
    int ecRegister_ = Unknown;
    int addressHigh_ = Unknown;
    int addressLow_ = Unknown;

    EcStep DataAccess(EcStepKind kind, uint8_t value) const;
};

} // namespace vyk::portlib
