#pragma once

#include <optional>

// What a terminal driver says it runs a line at, read back with the kernel's
// own call so that a rate outside the classic table reads back as well.
struct DriverSettings
{
    unsigned outputSpeed = 0; // bits per second
    bool twoStopBits = false;
};

// None when the descriptor is no terminal.
std::optional<DriverSettings> readDriverSettings(int fd);
