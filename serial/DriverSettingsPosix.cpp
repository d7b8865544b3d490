// Kept apart from every file that includes <termios.h>: the kernel's own
// termios header, needed for the exact rate, clashes with the C library's.
#include "serial/DriverSettings.h"

#include <cerrno>
#include <cstring>

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>

std::string setExactRate(DeviceHandle fd, unsigned rate)
{
    // The rate itself, in bits per second, both ways.
    struct termios2 line = {};
    if (::ioctl(fd, TCGETS2, &line) != 0)
        return std::strerror(errno);
    line.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ospeed = rate;
    line.c_ispeed = rate;
    if (::ioctl(fd, TCSETS2, &line) != 0)
        return std::strerror(errno);
    return {};
}

std::optional<DriverSettings> readDriverSettings(DeviceHandle fd)
{
    struct termios2 line = {};
    if (::ioctl(fd, TCGETS2, &line) != 0)
        return std::nullopt;
    return DriverSettings{line.c_ospeed,
                          (line.c_cflag & CSTOPB) ? DriverStopBits::Two : DriverStopBits::One};
}
#else
#include <termios.h>

std::string setExactRate(DeviceHandle fd, unsigned rate)
{
    // Here a speed is the rate itself.
    termios line = {};
    if (::tcgetattr(fd, &line) != 0 || ::cfsetspeed(&line, speed_t(rate)) != 0 ||
        ::tcsetattr(fd, TCSANOW, &line) != 0)
        return std::strerror(errno);
    return {};
}

std::optional<DriverSettings> readDriverSettings(DeviceHandle fd)
{
    termios line = {};
    if (::tcgetattr(fd, &line) != 0)
        return std::nullopt;
    return DriverSettings{unsigned(::cfgetospeed(&line)),
                          (line.c_cflag & CSTOPB) ? DriverStopBits::Two : DriverStopBits::One};
}
#endif
