#include "portlib/EcAccessRecogniser.h"

#include "portlib/driver/RequestDecoder.h"

namespace vyk::portlib {

namespace {

EcStep Refuse(Refusal why) { return {EcStepKind::Refused, 0, 0, why}; }

} // namespace

EcStep EcAccessRecogniser::DataAccess(EcStepKind kind, uint8_t value) const
{
    if (addressHigh_ == Unknown || addressLow_ == Unknown)
        return Refuse(Refusal::OffPath);
    const auto address = static_cast<uint16_t>(addressHigh_ << 8 | addressLow_);
    if (!VykEcAddressServed(address))
        return {EcStepKind::Refused, address, value, Refusal::AddressNotServed};
    return {kind, address, value, Refusal::None};
}

EcStep EcAccessRecogniser::Out(uint16_t port, uint8_t value)
{
    if (port == VYK_SIO_INDEX_PORT) {
        if (value == VYK_SIO_EC_INDEX || value == VYK_SIO_EC_DATA) {
            index_ = value;
            return {};
        }
        // Logical-device select, base addresses, GPIO, ...: the data write
        // that would follow must not land on the EC path.
        index_ = Unknown;
        return Refuse(Refusal::OffPath);
    }
    if (port != VYK_SIO_DATA_PORT || index_ == Unknown)
        return Refuse(Refusal::OffPath);
    if (index_ == VYK_SIO_EC_INDEX) {
        if (value == VYK_EC_ADDR_HIGH || value == VYK_EC_ADDR_LOW || value == VYK_EC_DATA) {
            ecRegister_ = value;
            return {};
        }
        ecRegister_ = Unknown;
        return Refuse(Refusal::OffPath);
    }
    switch (ecRegister_) {
    case VYK_EC_ADDR_HIGH:
        addressHigh_ = value;
        return {};
    case VYK_EC_ADDR_LOW:
        addressLow_ = value;
        return {};
    case VYK_EC_DATA:
        return DataAccess(EcStepKind::Write, value);
    default:
        return Refuse(Refusal::OffPath);
    }
}

EcStep EcAccessRecogniser::In(uint16_t port)
{
    if (port == VYK_SIO_DATA_PORT && index_ == VYK_SIO_EC_DATA && ecRegister_ == VYK_EC_DATA)
        return DataAccess(EcStepKind::Read, 0);
    return Refuse(Refusal::OffPath);
}

} // namespace vyk::portlib
