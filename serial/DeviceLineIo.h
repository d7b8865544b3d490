#pragma once

#include "serial/DriverSettings.h"

#include <functional>
#include <string>

// The calls on a serial device's handle that differ from one system to
// another: putting a frame on the line within a bounded wait, and letting
// what is queued leave before the line changes. One file per system
// implements them (DeviceLinePosix.cpp, DeviceLineWin32.cpp); they know
// nothing of Qt, so each can be built and tried on its own.
namespace DeviceLineIo {

// How long the driver may take to send this many queued bytes before the
// line counts as stalled.
using DrainLimit = std::function<int(long long queued)>;

// How a write ended: sent counts the bytes that left, error is empty when
// the whole frame did. Errors are in the system's local 8-bit encoding.
struct Outcome
{
    long long sent = 0;
    std::string error;
};

// Makes the line carry every byte value as data: no software flow control.
// Empty when done, else why not.
std::string prepare(DeviceHandle handle);

// Writes the whole frame and returns once the driver has sent it. Every wait
// is bounded by limit; past it, what is left is discarded and the outcome
// says how much left first.
Outcome write(DeviceHandle handle, const char* data, long long size, const DrainLimit& limit);

// Lets what is queued leave, within limit, before the line is closed or
// changed; a line that stays stalled has the rest discarded.
void drain(DeviceHandle handle, const DrainLimit& limit);

} // namespace DeviceLineIo
