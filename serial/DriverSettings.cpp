#include "serial/DriverSettings.h"

namespace {

const char* stopBitsText(DriverStopBits stopBits)
{
    switch (stopBits) {
    case DriverStopBits::One:
        return "1";
    case DriverStopBits::OneAndHalf:
        return "1.5";
    case DriverStopBits::Two:
        return "2";
    }
    return "?";
}

} // namespace

std::string driverMismatch(const DriverSettings& asked, const std::optional<DriverSettings>& driver)
{
    if (!driver)
        return "settings could not be read back";
    if (driver->outputSpeed != asked.outputSpeed)
        return "rate " + std::to_string(asked.outputSpeed) +
               " asked, the driver runs the line at " + std::to_string(driver->outputSpeed);
    if (driver->stopBits != asked.stopBits)
        return std::string("stop bits ") + stopBitsText(asked.stopBits) +
               " asked, the driver keeps " + stopBitsText(driver->stopBits);
    return {};
}
