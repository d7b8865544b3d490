#pragma once

#include <optional>
#include <string>

// What the port object holds for an open device: a file descriptor here, a
// HANDLE on Windows. Kept free of Qt so that the code working on it builds
// and runs on its own.
#ifdef _WIN32
using DeviceHandle = void*;
#else
using DeviceHandle = int;
#endif

enum class DriverStopBits
{
    One,
    OneAndHalf,
    Two
};

// What a serial driver says it runs a line at, read back with the system's
// own call so that a rate outside the classic table reads back as well.
struct DriverSettings
{
    unsigned outputSpeed = 0; // bits per second
    DriverStopBits stopBits = DriverStopBits::One;
};

// None when the handle is no serial device.
std::optional<DriverSettings> readDriverSettings(DeviceHandle handle);

// Why the driver does not run the line as asked ("rate 38400 asked, the
// driver runs the line at 38461"); empty when it does. A pseudo-terminal
// keeps no parity or character size, so only the rate and the stop bits are
// compared: they can be read back from every kind of device.
std::string driverMismatch(const DriverSettings& asked,
                           const std::optional<DriverSettings>& driver);
