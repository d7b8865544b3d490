#include "serial/DeviceLine.h"

#include "serial/DeviceAdvice.h"
#include "serial/DeviceLineIo.h"

#include <QFile>

#include <algorithm>
#include <utility>

namespace {

// Beyond the bytes' own time: a USB adapter holds bytes for up to 16 ms
// before it sends them on.
constexpr int DrainMarginMs = 100;

DriverStopBits driverStopBits(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::OneAndHalfStop:
        return DriverStopBits::OneAndHalf;
    case LineSettings::TwoStop:
        return DriverStopBits::Two;
    default:
        return DriverStopBits::One;
    }
}

DeviceLineIo::LineRequest lineRequest(const LineSettings& settings)
{
    DeviceLineIo::LineRequest request;
    request.rate = unsigned(settings.baudRate);
    request.dataBits = int(settings.dataBits);
    request.parity = parityLetter(settings.parity);
    request.stopBits = driverStopBits(settings.stopBits);
    return request;
}

} // namespace

DeviceLine::DeviceLine(QString device, QObject* parent) : Line(parent), m_path(std::move(device)) {}

DeviceLine::~DeviceLine()
{
    drainAndClose();
}

QString DeviceLine::named(const QString& reason) const
{
    return m_path + QStringLiteral(": ") + reason;
}

int DeviceLine::drainLimitMs(qsizetype queued, const LineSettings& settings)
{
    const double lineMs = double(queued) * bitsPerCharacter(settings) * 1000.0 / settings.baudRate;
    return int(std::min(lineMs + DrainMarginMs, double(StallLimitMs)));
}

Checked<void> DeviceLine::open(const LineSettings& settings)
{
    if (m_device.isOpen())
        return {};
    if (const QString refusal = deviceSettingsRefusal(settings); !refusal.isEmpty())
        return Refusal{named(refusal)};
#ifdef Q_OS_WIN
    const std::string path = m_path.toStdString();
#else
    const std::string path = QFile::encodeName(m_path).toStdString();
#endif
    DeviceLineIo::Opening opening = DeviceLineIo::open(path, lineRequest(settings));
    if (!opening.device.isOpen())
        return Refusal{named(QString::fromLocal8Bit(opening.error) + permissionHint(m_path))};
    // What counts is what the driver runs the line at, not what it was
    // asked.
    const std::string mismatch = driverMismatch(
        DriverSettings{unsigned(settings.baudRate), driverStopBits(settings.stopBits)},
        readDriverSettings(opening.device.handle));
    if (!mismatch.empty()) {
        DeviceLineIo::close(opening.device);
        return Refusal{named(QString::fromLocal8Bit(mismatch))};
    }
    m_device = std::move(opening.device);
    m_settings = settings;
    return {};
}

std::optional<LineSettings> DeviceLine::activeSettings() const
{
    if (!m_device.isOpen())
        return std::nullopt;
    return m_settings;
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
        DeviceLineIo::close(m_device);
        return result;
    };
    if (!m_device.isOpen()) {
        result.error = QStringLiteral("the port is not open");
        return result;
    }
    // Straight to the driver, with no buffer of the program's own: the frame
    // has left the program when this returns, and a failure is known here,
    // not later in the event loop.
    const DeviceLineIo::Outcome outcome =
        DeviceLineIo::write(m_device.handle, frame.constData(), frame.size(), drainLimit());
    result.sent = qsizetype(outcome.sent);
    if (!outcome.error.empty())
        return failure(QString::fromLocal8Bit(outcome.error));
    return result;
}

Checked<void> DeviceLine::confirm()
{
    if (m_device.isOpen())
        return {};
    return Refusal{QStringLiteral("the port is not open")};
}

Checked<void> DeviceLine::close()
{
    return drainAndClose();
}

Checked<void> DeviceLine::drainAndClose()
{
    if (!m_device.isOpen())
        return {};
    // Closing puts the device's earlier settings back at once: whatever is
    // still queued must leave first, at the rate it was written for.
    const std::string undrained = DeviceLineIo::drain(m_device.handle, drainLimit());
    DeviceLineIo::close(m_device);
    if (!undrained.empty())
        return Refusal{named(QString::fromLocal8Bit(undrained.c_str()))};
    return {};
}
