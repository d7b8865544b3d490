#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the port object holds for an open device: a file descriptor here, a
// HANDLE on Windows. Kept free of Qt so that the code working on it builds
// and runs on its own.
#ifdef _WIN32
using DeviceHandle = void*;
// INVALID_HANDLE_VALUE, without <windows.h>.
inline DeviceHandle const NoDevice = reinterpret_cast<DeviceHandle>(std::intptr_t(-1));
#else
using DeviceHandle = int;
inline constexpr DeviceHandle NoDevice = -1;
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

#ifndef _WIN32
// Sets the line's rate to any whole number of bits per second, also one
// outside the classic table, through the system's own call. Empty when the
// driver took it, else why not.
std::string setExactRate(DeviceHandle handle, unsigned rate);
#endif
