#include "tests/support/Pty.h"

#include <poll.h>
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
