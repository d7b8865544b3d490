#pragma once

#include "serial/DriverSettings.h"

#include <functional>
#include <memory>
#include <string>

// The calls on a serial device that differ from one system to another:
// opening it for one program at a time at the settings asked, putting a
// frame on the line within a bounded wait, letting what is queued leave
// before the line changes, and giving the device back as it was found. One
// file per system implements them (DeviceLinePosix.cpp, DeviceLineWin32.cpp);
// they know nothing of Qt, so each can be built and tried on its own.
namespace DeviceLineIo {

// How the line is to run, in the device's own terms.
struct LineRequest
{
    unsigned rate = 9600;
    int dataBits = 8;  // 5 to 8
    char parity = 'n'; // n, e, o, m or s
    DriverStopBits stopBits = DriverStopBits::One;
};

// The device's own settings from before it was opened; put back when it
// closes, so that the next program finds the device as it left it.
struct Earlier;

// A device open for a line. handle is NoDevice when it is not.
struct Device
{
    DeviceHandle handle = NoDevice;
    std::shared_ptr<const Earlier> earlier;

    bool isOpen() const { return handle != NoDevice; }
};

// What an open came to: the device, or why not (error, in the system's
// local 8-bit encoding).
struct Opening
{
    Device device;
    std::string error;
};

// Why an open is refused when another program holds the device and it
// cannot be told which; where it can, the reason names it instead: "the
// port is in use by quendra-panel, pid 1234".
inline constexpr char InUse[] = "the port is in use by another program";

// Opens path for writing, for this program alone, and sets the line: no
// flow control of either kind, every byte value carried as data. A device
// another live program holds is refused, never shared; a claim on it that
// no live program stands behind is cleared.
Opening open(const std::string& path, const LineRequest& request);

// Puts the earlier settings back and closes the device; it is closed
// whatever the device says.
void close(Device& device);

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

// Writes the whole frame and returns once the driver has sent it. Every wait
// is bounded by limit; past it, what is left is discarded and the outcome
// says how much left first.
Outcome write(DeviceHandle handle, const char* data, long long size, const DrainLimit& limit);

// Lets what is queued leave, within limit, before the line is closed or
// changed; a line that stays stalled has the rest discarded. Empty when all
// of it left, else why not.
std::string drain(DeviceHandle handle, const DrainLimit& limit);

} // namespace DeviceLineIo
