#include "serial/DeviceLine.h"

#include "serial/DeviceAdvice.h"
#include "serial/DeviceLineIo.h"

#include <algorithm>

namespace {

// Beyond the bytes' own time: a USB adapter holds bytes for up to 16 ms
// before it sends them on.
constexpr int DrainMarginMs = 100;

DriverStopBits driverStopBits(QSerialPort::StopBits stopBits)
{
    switch (stopBits) {
    case QSerialPort::OneAndHalfStop:
        return DriverStopBits::OneAndHalf;
    case QSerialPort::TwoStop:
        return DriverStopBits::Two;
    default:
        return DriverStopBits::One;
    }
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

Checked<void> DeviceLine::open(const LineSettings& settings)
{
    if (m_port.isOpen())
        return {};
    if (const QString refusal = deviceSettingsRefusal(settings); !refusal.isEmpty())
        return Refusal{named(refusal)};
    if (!m_port.open(QIODevice::WriteOnly))
        return Refusal{named(m_port.errorString() + permissionHint(m_device))};
    if (const Checked<void> applied = applyLineSettings(m_port, settings); !applied) {
        m_port.close();
        return Refusal{named(applied.message())};
    }
    // What counts is what the driver runs the line at, not what it was
    // asked.
    const auto handle = DeviceHandle(m_port.handle());
    std::string mismatch = DeviceLineIo::prepare(handle);
    if (mismatch.empty())
        mismatch = driverMismatch(
            DriverSettings{unsigned(settings.baudRate), driverStopBits(settings.stopBits)},
            readDriverSettings(handle));
    if (!mismatch.empty()) {
        m_port.close();
        return Refusal{named(QString::fromLocal8Bit(mismatch))};
    }
    m_settings = settings;
    m_port.clearError();
    return {};
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

DeviceLineIo::DrainLimit DeviceLine::drainLimit() const
{
    return [settings = m_settings](long long queued) {
        return drainLimitMs(qsizetype(queued), settings);
    };
}

WriteResult DeviceLine::write(const QByteArray& frame)
{
    WriteResult result;
    result.size = frame.size();
    const auto failure = [&](const QString& reason) {
        result.error = named(reason);
        m_port.close();
        return result;
    };
    if (!m_port.isOpen()) {
        result.error = QStringLiteral("the port is not open");
        return result;
    }
    // Straight to the driver rather than through QSerialPort's buffer: the
    // frame has left the program when this returns, and a failure is known
    // here, not later in the event loop.
    const DeviceLineIo::Outcome outcome = DeviceLineIo::write(
        DeviceHandle(m_port.handle()), frame.constData(), frame.size(), drainLimit());
    result.sent = qsizetype(outcome.sent);
    if (!outcome.error.empty())
        return failure(QString::fromLocal8Bit(outcome.error));
    return result;
}

Checked<void> DeviceLine::confirm()
{
    if (m_port.isOpen())
        return {};
    return Refusal{QStringLiteral("the port is not open")};
}

Checked<void> DeviceLine::close()
{
    return drainAndClose();
}

Checked<void> DeviceLine::drainAndClose()
{
    if (!m_port.isOpen())
        return {};
    // Closing puts the device's earlier settings back at once: whatever is
    // still queued must leave first, at the rate it was written for.
    const std::string undrained = DeviceLineIo::drain(DeviceHandle(m_port.handle()), drainLimit());
    m_port.close();
    if (!undrained.empty())
        return Refusal{named(QString::fromLocal8Bit(undrained.c_str()))};
    return {};
}
