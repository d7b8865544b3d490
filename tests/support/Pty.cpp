#include "tests/support/Pty.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

QByteArray Pty::read(int timeoutMs, int idleMs)
{
    QByteArray got;
    if (!isValid())
        return got;
    int wait = timeoutMs;
    for (;;) {
        pollfd p{master(), POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
            return got;
        char buffer[4096];
        const ssize_t n = ::read(master(), buffer, sizeof buffer);
        if (n <= 0)
            return got;
        got.append(buffer, n);
        wait = idleMs;
    }
}

bool Pty::write(const QByteArray& bytes)
{
    return isValid() && ::write(master(), bytes.constData(), size_t(bytes.size())) == bytes.size();
}

int ttySpeed(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios t{};
    const bool ok = fd >= 0 && ::tcgetattr(fd, &t) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok ? int(::cfgetospeed(&t)) : -1;
}

int exclusiveFlag(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    int exclusive = -1;
    if (fd >= 0 && ::ioctl(fd, TIOCGEXCL, &exclusive) != 0)
        exclusive = -1;
    if (fd >= 0)
        ::close(fd);
    return exclusive;
}
