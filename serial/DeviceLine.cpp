#include "serial/DeviceLine.h"

#include "serial/DeviceAdvice.h"
#include "serial/DriverSettings.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How long a write may wait for the driver to take a frame before the port
// counts as stuck.
constexpr int WriteTimeoutMs = 2000;
// Beyond the bytes' own time: a USB adapter holds bytes for up to 16 ms
// before it sends them on.
constexpr int DrainMarginMs = 100;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Start bit, data bits, parity bit, stop bits (1.5 counted as 2).
int bitsPerCharacter(const LineSettings& settings)
{
    return 1 + int(settings.dataBits) + (settings.parity == QSerialPort::NoParity ? 0 : 1) +
           (settings.stopBits == QSerialPort::OneStop ? 1 : 2);
}

} // namespace

DeviceLine::DeviceLine(const QString& device, QObject* parent) : Line(parent), m_device(device)
{
    m_port.setPortName(device);
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A vanished device keeps raising errors until the port is closed.
        if (e == QSerialPort::ResourceError && m_port.isOpen())
            fail(m_port.errorString());
    });
}

DeviceLine::~DeviceLine()
{
    drainAndClose();
}

QString DeviceLine::named(const QString& reason) const
{
    return m_device + QStringLiteral(": ") + reason;
}

int DeviceLine::drainLimitMs(qsizetype queued, const LineSettings& settings)
{
    const double lineMs = double(queued) * bitsPerCharacter(settings) * 1000.0 / settings.baudRate;
    return int(std::min(lineMs + DrainMarginMs, double(StallLimitMs)));
}

bool DeviceLine::open(const LineSettings& settings, QString* error)
{
    if (m_port.isOpen())
        return true;
#ifndef Q_OS_WIN
    // The serial drivers here know one or two stop bits only; asked for
    // 1.5, the serial library would quietly run the line with one.
    if (settings.stopBits == QSerialPort::OneAndHalfStop) {
        *error = named(QStringLiteral("stop bits 1.5: this system has no setting for them"));
        return false;
    }
#endif
    if (!m_port.open(QIODevice::WriteOnly)) {
        *error = named(m_port.errorString() + permissionHint(m_device));
        return false;
    }
    QString refused;
    if (!applyLineSettings(m_port, settings, &refused)) {
        *error = named(refused);
        m_port.close();
        return false;
    }
    // What counts is what the driver runs the line at, not what it was
    // asked. A pseudo-terminal keeps no parity or character size, so only
    // the rate and the stop bits can be compared on every kind of device.
    const std::optional<DriverSettings> driver = readDriverSettings(int(m_port.handle()));
    QString mismatch;
    if (!driver)
        mismatch = QStringLiteral("settings could not be read back");
    else if (driver->outputSpeed != unsigned(settings.baudRate))
        mismatch = QStringLiteral("rate %1 asked, the driver runs the line at %2")
                       .arg(settings.baudRate)
                       .arg(driver->outputSpeed);
    else if (driver->twoStopBits != (settings.stopBits == QSerialPort::TwoStop))
        mismatch = QStringLiteral("stop bits %1 asked, the driver keeps %2")
                       .arg(settings.stopBits == QSerialPort::TwoStop ? 2 : 1)
                       .arg(driver->twoStopBits ? 2 : 1);
    if (!mismatch.isEmpty()) {
        *error = named(mismatch);
        m_port.close();
        return false;
    }
    m_settings = settings;
    m_port.clearError();
    return true;
}

std::optional<LineSettings> DeviceLine::activeSettings() const
{
    if (!m_port.isOpen())
        return std::nullopt;
    return LineSettings{m_port.baudRate(), m_port.parity(), m_port.dataBits(), m_port.stopBits()};
}

void DeviceLine::fail(const QString& reason)
{
    m_port.close();
    emit failed(named(reason));
}

bool DeviceLine::drain(QString* reason, qsizetype* left)
{
    const int fd = int(m_port.handle());
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0)
        queued = 0;
    const int limitMs = drainLimitMs(queued, m_settings);
    QElapsedTimer clock;
    clock.start();
    // The driver's queue first, looked at in steps of about a character's
    // time, so that a stalled line can be given up on; then what the UART
    // itself still holds, which the driver bounds on its own.
    while (queued > 0) {
        if (clock.elapsed() >= limitMs) {
            ::tcflush(fd, TCOFLUSH);
            *left = queued;
            *reason = QStringLiteral("the line took no more of it in %1 ms; %2 bytes discarded")
                          .arg(limitMs)
                          .arg(queued);
            return false;
        }
        const int stepMs = std::clamp(drainLimitMs(queued, m_settings) - DrainMarginMs, 1, 20);
        ::poll(nullptr, 0, stepMs);
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0)
            queued = 0;
    }
    while (::tcdrain(fd) != 0) {
        if (errno != EINTR) {
            *left = 0;
            *reason = systemError(errno);
            return false;
        }
    }
    return true;
}

WriteResult DeviceLine::write(const QByteArray& frame)
{
    WriteResult result;
    result.size = frame.size();
    const auto failure = [&](const QString& reason) {
        result.error = named(reason);
        fail(reason);
        return result;
    };
    if (!m_port.isOpen()) {
        result.error = QStringLiteral("the port is not open");
        return result;
    }
    // Straight to the driver rather than through QSerialPort's buffer: the
    // frame has left the program when this returns, and a failure is known
    // here, not later in the event loop.
    const int fd = int(m_port.handle());
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
        return failure(systemError(n < 0 ? errno : EIO));
    }
    // Done only once the frame is on the wire: a frame still queued when the
    // line changes would leave at another rate, or not at all.
    QString reason;
    qsizetype left = 0;
    if (!drain(&reason, &left)) {
        result.sent -= left;
        return failure(reason);
    }
    return result;
}

void DeviceLine::close()
{
    drainAndClose();
}

void DeviceLine::drainAndClose()
{
    if (!m_port.isOpen())
        return;
    // Closing puts the device's earlier settings back at once: whatever is
    // still queued must leave first, at the rate it was written for.
    QString reason;
    qsizetype left = 0;
    drain(&reason, &left);
    m_port.close();
}
