#include "platform/DriverStartText.h"

namespace vyk::platform {

std::string DriverStartProblem(const std::string& driverName, uint32_t windowsError)
{
    const std::string code = " (Windows error " + std::to_string(windowsError) + ")";
    switch (windowsError) {
    case 577: // ERROR_INVALID_IMAGE_HASH
        return "Windows refused the signature of the driver " + driverName + ".sys" + code +
               ": 64-bit Windows loads it only in test-signing mode with the build's test certificate trusted, "
               "or once it is signed through Microsoft's hardware developer programme (see the README)";
    case 5: // ERROR_ACCESS_DENIED
        return "the driver " + driverName + " may be started by administrators only" + code +
               ": run vykuu as administrator";
    case 1060: // ERROR_SERVICE_DOES_NOT_EXIST
        return "the driver " + driverName + " is not installed" + code +
               ": run vykuu once as administrator so the port library installs it";
    case 1056: // ERROR_SERVICE_ALREADY_RUNNING, and still not open to us
        return "the driver " + driverName + " runs but the port library did not take it" + code +
               ": it may be an older version that serves no EC RAM request; as administrator, stop and delete it "
               "(sc stop " + driverName + ", sc delete " + driverName + ") so that the library installs its own";
    case 1058: // ERROR_SERVICE_DISABLED
        return "the driver " + driverName + "'s service is disabled" + code;
    default:
        return "the driver " + driverName + " does not start" + code;
    }
}

} // namespace vyk::platform
