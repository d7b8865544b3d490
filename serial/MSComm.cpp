#include "serial/MSComm.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

// How long a write may wait for the driver to take a frame before the port
// counts as stuck: far beyond the few milliseconds a short frame needs even
// at 9600 baud.
constexpr int WriteTimeoutMs = 2000;

} // namespace

MSComm::MSComm(QObject* parent) : QObject(parent)
{
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A vanished device keeps raising errors until the port is closed.
        if (e == QSerialPort::ResourceError && m_port.isOpen())
            fail(m_port.errorString());
    });
}

MSComm::~MSComm() = default;

QString MSComm::platformPortName(int n)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

bool MSComm::open()
{
    m_error.clear();
    if (m_port.isOpen())
        return true;
    const QString device = devicePath();
    if (m_device.isEmpty() && m_commPort < 1) {
        m_error = QStringLiteral("COM%1: no such port number").arg(m_commPort);
        return false;
    }
    const std::optional<LineSettings> line = parseLineSettings(m_settings);
    if (!line) {
        m_error = QStringLiteral("%1: line settings \"%2\" not understood").arg(device, m_settings);
        return false;
    }

    m_port.setPortName(device);
    if (!m_port.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("%1: %2").arg(device, m_port.errorString());
        return false;
    }
    QString refused;
    if (!applyLineSettings(m_port, *line, &refused)) {
        m_error = QStringLiteral("%1: line settings \"%2\": %3").arg(device, m_settings, refused);
        m_port.close();
        return false;
    }
    m_port.clearError();
    return true;
}

void MSComm::close()
{
    if (m_port.isOpen())
        m_port.close();
}

bool MSComm::isOpen() const
{
    return m_port.isOpen();
}

std::optional<LineSettings> MSComm::activeSettings() const
{
    if (!m_port.isOpen())
        return std::nullopt;
    return LineSettings{m_port.baudRate(), m_port.parity(), m_port.dataBits(), m_port.stopBits()};
}

void MSComm::fail(const QString& reason)
{
    m_error = QStringLiteral("%1: %2").arg(m_port.portName(), reason);
    m_port.close();
    emit failed(m_error);
}

WriteResult MSComm::write(const QByteArray& frame)
{
    m_error.clear();
    WriteResult result;
    result.size = frame.size();
    const auto failure = [&](const QString& reason) {
        fail(reason);
        result.error = m_error;
        return result;
    };
    if (!m_port.isOpen()) {
        m_error = QStringLiteral("the port is not open");
        result.error = m_error;
        return result;
    }
#ifdef Q_OS_UNIX
    // Straight to the driver rather than through QSerialPort's buffer: the
    // frame has left the program when this returns, and a failure is known
    // here, not later in the event loop.
    const int fd = m_port.handle();
    qsizetype& done = result.sent;
    while (done < frame.size()) {
        const ssize_t n = ::write(fd, frame.constData() + done, size_t(frame.size() - done));
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
            return failure(ready == 0 ? QStringLiteral("write timed out")
                                      : QStringLiteral("device failed"));
        }
        return failure(QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO)));
    }
    return result;
#else
    if (m_port.write(frame) != frame.size() || !m_port.waitForBytesWritten(WriteTimeoutMs))
        return failure(m_port.errorString());
    result.sent = frame.size();
    return result;
#endif
}
