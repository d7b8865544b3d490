#include "serial/PseudoTerminal.h"

#include "serial/DeviceHolders.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    char name[PATH_MAX] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        m_error = QStringLiteral("cannot create a pseudo-terminal: ") +
                  QString::fromLocal8Bit(std::strerror(errno));
        m_master = m_slave = -1;
        return;
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_path = QFile::decodeName(name);
}

PseudoTerminal::~PseudoTerminal()
{
    close();
}

void PseudoTerminal::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_master = m_slave = -1;
}

bool PseudoTerminal::releaseAbandonedClaim()
{
    int exclusive = 0;
    if (m_slave < 0 || ::ioctl(m_slave, TIOCGEXCL, &exclusive) != 0 || exclusive == 0)
        return false;
    if (!DeviceHolders::holding(m_slave).empty())
        return false;
    return ::ioctl(m_slave, TIOCNXCL) == 0;
}
