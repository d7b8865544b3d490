#include "serial/DeviceLineIo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace DeviceLineIo {

namespace {

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

using Clock = std::chrono::steady_clock;

// What is left of a deadline for poll(): 0 once it has passed, never the -1
// that poll() takes as "for ever".
int remainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, INT_MAX));
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

std::string prepare(DeviceHandle)
{
    // The serial library already turns software flow control off here.
    return {};
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
            if (ready > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL)))
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
