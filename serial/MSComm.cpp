#include "serial/MSComm.h"

MSComm::MSComm(QObject* parent) : QObject(parent) {}

MSComm::~MSComm() = default;

QString MSComm::platformPortName(int n)
{
#ifdef Q_OS_WIN
    // Past COM9 the system knows the port only by its device name.
    return n > 9 ? QStringLiteral("\\\\.\\COM%1").arg(n) : QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
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
    std::unique_ptr<Line> opened = lineFor(name);
    if (!opened->open(*line, &m_error))
        return false;
    m_line = std::move(opened);
    connect(m_line.get(), &Line::failed, this, [this](const QString& reason) {
        m_error = reason;
        emit failed(reason);
    });
    return true;
}

void MSComm::close()
{
    // The line is kept until the next open, so a failure it reports from
    // within a close still finds its receiver.
    if (m_line)
        m_line->close();
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
    return result;
}
