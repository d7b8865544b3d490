#include "serial/MSComm.h"

#include "serial/PortName.h"

MSComm::MSComm(QObject* parent) : QObject(parent) {}

MSComm::~MSComm() = default;

QString MSComm::portNameFor(int n) const
{
    return m_ports.value(n, platformPortName(n));
}

bool MSComm::open()
{
    m_error.clear();
    if (isOpen())
        return true;
    const QString name = devicePath();
    if (m_device.isEmpty() && m_commPort < 1) {
        m_error = QStringLiteral("COM%1: no such port number").arg(m_commPort);
        return false;
    }
    const std::optional<LineSettings> line = parseLineSettings(m_settings);
    if (!line) {
        m_error = QStringLiteral("%1: line settings \"%2\" not understood").arg(name, m_settings);
        return false;
    }
    Checked<std::unique_ptr<Line>> opened = lineFor(name);
    if (!opened) {
        m_error = opened.message();
        return false;
    }
    if (const Checked<void> ready = (*opened)->open(*line); !ready) {
        m_error = ready.message();
        return false;
    }
    m_line = std::move(*opened);
    m_unconfirmed = 0;
    m_confirmed = 0;
    connect(m_line.get(), &Line::failed, this, [this](const QString& reason) {
        m_error = reason;
        emit failed(reason);
    });
    return true;
}

bool MSComm::close()
{
    // The line is kept until the next open, so a failure it reports from
    // within a close still finds its receiver.
    m_error.clear();
    if (!isOpen())
        return true;
    const Checked<void> confirmed = m_line->close();
    if (confirmed)
        m_confirmed += m_unconfirmed;
    else
        m_error = confirmed.message();
    m_unconfirmed = 0;
    return bool(confirmed);
}

bool MSComm::confirm()
{
    m_error.clear();
    if (!isOpen()) {
        m_error = QStringLiteral("the port is not open");
        return false;
    }
    if (const Checked<void> confirmed = m_line->confirm(); !confirmed) {
        m_error = confirmed.message();
        return false;
    }
    m_confirmed += m_unconfirmed;
    m_unconfirmed = 0;
    return true;
}

bool MSComm::isOpen() const
{
    return m_line && m_line->isOpen();
}

std::optional<LineSettings> MSComm::activeSettings() const
{
    return isOpen() ? m_line->activeSettings() : std::nullopt;
}

WriteResult MSComm::write(const QByteArray& frame)
{
    m_error.clear();
    if (!isOpen()) {
        m_error = QStringLiteral("the port is not open");
        return {0, frame.size(), m_error};
    }
    WriteResult result = m_line->write(frame);
    m_error = result.error;
    if (result.ok() && ++m_unconfirmed >= m_confirmEvery && !confirm())
        result.error = m_error;
    return result;
}
