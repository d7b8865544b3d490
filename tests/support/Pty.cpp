#include "tests/support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty()
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_path = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty()
{
    vanish();
}

void Pty::vanish()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_master = m_slave = -1;
}

QByteArray Pty::read(int timeoutMs, int idleMs)
{
    QByteArray got;
    if (m_master < 0)
        return got;
    int wait = timeoutMs;
    for (;;) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
            return got;
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return got;
        got.append(buffer, n);
        wait = idleMs;
    }
}

bool Pty::write(const QByteArray& bytes)
{
    return m_master >= 0 &&
           ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
}
