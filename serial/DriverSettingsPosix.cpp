// Kept apart from every file that includes <termios.h>: the kernel's own
// termios header, needed for the exact rate, clashes with the C library's.
#include "serial/DriverSettings.h"

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>

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

std::optional<DriverSettings> readDriverSettings(DeviceHandle fd)
{
    termios line = {};
    if (::tcgetattr(fd, &line) != 0)
        return std::nullopt;
    return DriverSettings{unsigned(::cfgetospeed(&line)),
                          (line.c_cflag & CSTOPB) ? DriverStopBits::Two : DriverStopBits::One};
}
#endif
