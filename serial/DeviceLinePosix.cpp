#include "serial/DeviceLineIo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
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

long long elapsedMs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

// Waits until the driver has sent everything written; false, with what is
// left discarded and reason set, when the line stalls.
bool drainQueue(int fd, const DrainLimit& limit, std::string* reason, long long* left)
{
    int queued = queuedBytes(fd);
    const int limitMs = limit(queued);
    const auto start = std::chrono::steady_clock::now();
    // The driver's queue first, looked at in steps of about a character's
    // time, so that a stalled line can be given up on; then what the UART
    // itself still holds, which the driver bounds on its own.
    while (queued > 0) {
        if (elapsedMs(start) >= limitMs) {
            ::tcflush(fd, TCOFLUSH);
            *left = queued;
            *reason = "the line took no more of it in " + std::to_string(limitMs) + " ms; " +
                      std::to_string(queued) + " bytes discarded";
            return false;
        }
        // The limit less its margin is the bytes' own time on the line.
        const int stepMs = std::clamp(limit(queued) - limit(0), 1, 20);
        ::poll(nullptr, 0, stepMs);
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
            const int ready = ::poll(&p, 1, WriteTimeoutMs);
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

void drain(DeviceHandle fd, const DrainLimit& limit)
{
    std::string reason;
    long long left = 0;
    drainQueue(fd, limit, &reason, &left);
}

} // namespace DeviceLineIo
