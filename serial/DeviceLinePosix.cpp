#include "serial/DeviceLineIo.h"

#include "serial/DeviceHolders.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace DeviceLineIo {

struct Earlier
{
    termios line;
};

namespace {

// The rates the classic table names. Any other goes to the driver as a
// number (setExactRate), which programs reading the table see as "other".
constexpr std::pair<unsigned, speed_t> ClassicRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800}, {921600, B921600},
#endif
};

std::string systemError()
{
    return std::strerror(errno);
}

// The line as asked, on top of what the device had: raw bytes both ways,
// the modem lines ignored, no flow control of either kind.
termios lineFor(termios line, const LineRequest& request)
{
    ::cfmakeraw(&line);
    line.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    line.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    line.c_cflag &= ~tcflag_t(CMSPAR);
#endif
    line.c_cflag |= CLOCAL | CREAD;
    switch (request.dataBits) {
    case 5:
        line.c_cflag |= CS5;
        break;
    case 6:
        line.c_cflag |= CS6;
        break;
    case 7:
        line.c_cflag |= CS7;
        break;
    default:
        line.c_cflag |= CS8;
        break;
    }
    switch (request.parity) {
    case 'e':
        line.c_cflag |= PARENB;
        break;
    case 'o':
        line.c_cflag |= PARENB | PARODD;
        break;
#ifdef CMSPAR
    // Mark and space: the parity bit always 1 or always 0.
    case 'm':
        line.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 's':
        line.c_cflag |= PARENB | CMSPAR;
        break;
#endif
    default:
        break;
    }
    if (request.stopBits != DriverStopBits::One)
        line.c_cflag |= CSTOPB;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    return line;
}

using Clock = std::chrono::steady_clock;

// What is left of a deadline for poll(): 0 once it has passed, never the -1
// that poll() takes as "for ever".
int remainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, INT_MAX));
}

// Write only: nothing on this line is read. Never blocking, and never made
// the program's controlling terminal.
constexpr int OpenFlags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

std::string inUseBy(const std::vector<DeviceHolders::Holder>& holders)
{
    return holders.empty() ? std::string(InUse)
                           : "the port is in use by " + DeviceHolders::describe(holders);
}

// Why another program holds the device, or empty when none does: one that
// holds the advisory lock on it, or a live one that has it open while the
// terminal is marked for exclusive use (which the system does not enforce
// for root). A mark that no live program stands behind was left by one
// that ended; it is cleared. When none holds it, this program holds the
// advisory lock from here on, until the device is closed.
std::string heldElsewhere(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return inUseBy(DeviceHolders::lockHolder(fd));
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        const std::vector<DeviceHolders::Holder> holders = DeviceHolders::holding(fd);
        if (!holders.empty())
            return inUseBy(holders);
        ::ioctl(fd, TIOCNXCL);
    }
#endif
    return {};
}

// A device marked for exclusive use opens for root only. Named when a live
// program has it open; otherwise the mark may be one a program that ended
// left behind, which the program at the line's other end clears (as
// quendra-emulator does): it is given a moment for that.
int openClaimed(const std::string& path, std::string* reason)
{
    constexpr int ReleaseWaitMs = 500;
    constexpr int StepMs = 20;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ReleaseWaitMs);
    for (;;) {
        const std::vector<DeviceHolders::Holder> holders = DeviceHolders::holding(path);
        if (!holders.empty()) {
            *reason = inUseBy(holders);
            return -1;
        }
        if (remainingMs(deadline) == 0) {
            *reason = std::string(InUse) +
                      ": one this user cannot see, or one that ended and left it claimed";
            return -1;
        }
        ::poll(nullptr, 0, std::min(StepMs, remainingMs(deadline)));
        const int fd = ::open(path.c_str(), OpenFlags);
        if (fd >= 0 || errno != EBUSY) {
            *reason = fd >= 0 ? std::string() : systemError();
            return fd;
        }
    }
}

// How long a write may wait for the driver to take a frame before the port
// counts as stuck.
constexpr int WriteTimeoutMs = 2000;

int queuedBytes(int fd)
{
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0)
        queued = 0;
    return queued;
}

// Waits until the driver has sent everything written; false, with what is
// left discarded and reason set, when the line stalls.
bool drainQueue(int fd, const DrainLimit& limit, std::string* reason, long long* left)
{
    int queued = queuedBytes(fd);
    const int limitMs = limit(queued);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    // The driver's queue first, looked at in steps of about a character's
    // time, so that a stalled line can be given up on; then what the UART
    // itself still holds, which the driver bounds on its own.
    while (queued > 0) {
        if (remainingMs(deadline) == 0) {
            ::tcflush(fd, TCOFLUSH);
            *left = queued;
            *reason = "the line took no more of it in " + std::to_string(limitMs) + " ms; " +
                      std::to_string(queued) + " bytes discarded";
            return false;
        }
        // The limit less its margin is the bytes' own time on the line.
        const int stepMs = std::clamp(limit(queued) - limit(0), 1, 20);
        ::poll(nullptr, 0, std::min(stepMs, remainingMs(deadline)));
        queued = queuedBytes(fd);
    }
    while (::tcdrain(fd) != 0) {
        if (errno != EINTR) {
            *left = 0;
            *reason = std::strerror(errno);
            return false;
        }
    }
    return true;
}

} // namespace

Opening open(const std::string& path, const LineRequest& request)
{
    Opening result;
    int fd = ::open(path.c_str(), OpenFlags);
    if (fd < 0 && errno == EBUSY)
        fd = openClaimed(path, &result.error);
    else if (fd < 0)
        result.error = systemError();
    if (fd < 0)
        return result;
    const auto refuse = [&](std::string why) {
        ::close(fd);
        result.error = std::move(why);
        return result;
    };
#ifndef CMSPAR
    if (request.parity == 'm' || request.parity == 's')
        return refuse("mark and space parity: this system has no setting for them");
#endif
    auto earlier = std::make_shared<Earlier>();
    if (::tcgetattr(fd, &earlier->line) != 0)
        return refuse(errno == ENOTTY ? "not a serial device" : systemError());
    if (std::string holder = heldElsewhere(fd); !holder.empty())
        return refuse(std::move(holder));
    termios line = lineFor(earlier->line, request);
    const auto* classic =
        std::find_if(std::begin(ClassicRates), std::end(ClassicRates),
                     [&](const auto& rate) { return rate.first == request.rate; });
    if (classic != std::end(ClassicRates))
        ::cfsetspeed(&line, classic->second);
    if (::tcsetattr(fd, TCSANOW, &line) != 0)
        return refuse("settings refused: " + systemError());
    if (classic == std::end(ClassicRates)) {
        if (const std::string refused = setExactRate(fd, request.rate); !refused.empty())
            return refuse("rate " + std::to_string(request.rate) + " refused: " + refused);
    }
    // Other programs' opens are refused from here on; root's are not, and
    // are told by heldElsewhere.
    ::ioctl(fd, TIOCEXCL);
    result.device = Device{fd, std::move(earlier)};
    return result;
}

void close(Device& device)
{
    if (!device.isOpen())
        return;
    const int fd = std::exchange(device.handle, NoDevice);
    if (device.earlier)
        ::tcsetattr(fd, TCSANOW, &device.earlier->line);
    // The device keeps exclusive use for as long as it stays open anywhere
    // (a pseudo-terminal's other end); it ends with this program's use.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    device.earlier.reset();
}

Outcome write(DeviceHandle fd, const char* data, long long size, const DrainLimit& limit)
{
    Outcome result;
    // One bound for the whole frame, however the driver takes it in pieces.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(WriteTimeoutMs);
    long long& done = result.sent;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, remainingMs(deadline));
            // A stop signal cuts the wait short, never the frame: the
            // deadline still holds on the next pass.
            if ((ready > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL))) ||
                (ready < 0 && errno == EINTR))
                continue;
            result.error = ready == 0 ? "write timed out" : "device failed";
            return result;
        }
        result.error = std::strerror(n < 0 ? errno : EIO);
        return result;
    }
    // Done only once the frame is on the wire: a frame still queued when the
    // line changes would leave at another rate, or not at all.
    long long left = 0;
    if (!drainQueue(fd, limit, &result.error, &left))
        result.sent -= left;
    return result;
}

std::string drain(DeviceHandle fd, const DrainLimit& limit)
{
    std::string reason;
    long long left = 0;
    drainQueue(fd, limit, &reason, &left);
    return reason;
}

} // namespace DeviceLineIo
