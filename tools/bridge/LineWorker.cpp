#include "tools/bridge/LineWorker.h"

#include "serial/MSComm.h"
#include "serial/PortName.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

namespace bridge {

namespace {

constexpr int FirstRetryMs = 1000;
constexpr int LastRetryMs = 30000;
// How often the count of superseded orders may change the status detail.
constexpr int ReportMs = 1000;

// Points the port at the line's device: COMn through the port map, as the
// panel reads it, anything else as given.
void aimPort(MSComm& port, const NamedLine& line, const QMap<int, QString>& portMap)
{
    port.setPortMap(portMap);
    if (const std::optional<int> n = comPortNumber(line.port))
        port.setCommPort(qint16(*n <= MaxComPort ? *n : 0)); // 0: "no such port number"
    else
        port.setDevice(line.port);
    port.setSettings(line.settings);
}

} // namespace

QString lineTarget(const NamedLine& line, const QMap<int, QString>& portMap)
{
    MSComm port;
    aimPort(port, line, portMap);
    const QString name = port.devicePath();
    if (isNetworkPortName(name)) {
        const Checked<NetworkAddress> address = parseNetworkPortName(name);
        return address ? address->display().toLower() : name;
    }
    const QFileInfo file(name);
    return file.exists() ? file.canonicalFilePath() : file.absoluteFilePath();
}

Checked<void> distinctTargets(const QList<NamedLine>& lines, const QMap<int, QString>& portMap)
{
    // One writer per line: two would interleave their frames' bytes, and the
    // second open would find the device held, by the bridge itself.
    QMap<QString, QString> lineOf; // target -> line name
    for (const NamedLine& line : lines) {
        const QString target = lineTarget(line, portMap);
        if (lineOf.contains(target))
            return Refusal{QStringLiteral("lines \"%1\" and \"%2\" are both on %3")
                               .arg(lineOf.value(target), line.name, target)};
        lineOf.insert(target, line.name);
    }
    return {};
}

LineWorker::LineWorker(NamedLine line, QMap<int, QString> portMap, Publish publish)
    : m_line(std::move(line)), m_portMap(std::move(portMap)), m_publish(std::move(publish))
{
}

LineWorker::~LineWorker() = default;

bool LineWorker::submit(Order order)
{
    const OrderQueue::Added added = m_queue.add(std::move(order));
    if (added == OrderQueue::Added::Full)
        return false;
    if (!m_drainPosted.exchange(true))
        QMetaObject::invokeMethod(this, &LineWorker::drain, Qt::QueuedConnection);
    return true;
}

void LineWorker::start()
{
    m_port = new MSComm(this);
    aimPort(*m_port, m_line, m_portMap);
    connect(m_port, &MSComm::failed, this, &LineWorker::lost);

    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &LineWorker::open);
    m_report = new QTimer(this);
    m_report->setInterval(ReportMs);
    connect(m_report, &QTimer::timeout, this, [this] {
        if (m_queue.superseded() != m_reportedSuperseded)
            publishStatus(m_port->isOpen() ? QString() : m_lastFailure);
    });
    m_report->start();
    open();
}

void LineWorker::stop()
{
    m_retry->stop();
    m_report->stop();
    QString closed = QStringLiteral("not open");
    if (m_port->isOpen())
        closed = m_port->close() ? QStringLiteral("closed %1").arg(m_port->devicePath())
                                 : m_port->errorString();
    const int waiting = m_queue.size();
    std::fprintf(
        stderr, "quendra-bridge: line %s: %s; %llu frame%s sent%s\n", qPrintable(m_line.name),
        qPrintable(closed), static_cast<unsigned long long>(m_sent), m_sent == 1 ? "" : "s",
        waiting > 0 ? qPrintable(QStringLiteral("; %1 waiting not sent").arg(waiting)) : "");
    publishStatus(QStringLiteral("the bridge stopped"));
}

void LineWorker::open()
{
    if (m_port->open()) {
        m_backoffMs = FirstRetryMs;
        std::fprintf(stderr, "quendra-bridge: line %s: open on %s\n", qPrintable(m_line.name),
                     qPrintable(m_port->devicePath()));
        publishStatus(QString());
        drain();
        return;
    }
    lost(m_port->errorString());
}

void LineWorker::lost(const QString& reason)
{
    if (m_port->isOpen())
        m_port->close();
    std::fprintf(stderr, "quendra-bridge: line %s: %s; trying again in %d s\n",
                 qPrintable(m_line.name), qPrintable(reason), m_backoffMs / 1000);
    m_lastFailure = reason;
    publishStatus(reason);
    m_retry->start(m_backoffMs);
    m_backoffMs = qMin(m_backoffMs * 2, LastRetryMs);
}

void LineWorker::drain()
{
    m_drainPosted = false;
    if (!m_port->isOpen())
        return; // the orders wait for the line to come back
    // One frame per pass, then back to the event loop, so that a failure the
    // line reports and the status timer are seen between frames.
    const std::optional<Order> order = m_queue.take();
    if (!order)
        return;
    const WriteResult result = m_port->write(order->frame);
    if (!result.ok()) {
        // A value the display never got goes again once the line is back; a
        // toggle or raw frame only when none of it left, or it would count
        // twice.
        if (!order->key.isEmpty() || result.sent == 0)
            m_queue.putBack(*order);
        lost(result.summary());
        return;
    }
    ++m_sent;
    if (m_onSent)
        m_onSent(order->frame);
    // Only once the frame has left: a dashboard shows what the display shows.
    if (!order->stateTopic.isEmpty())
        m_publish(order->stateTopic, order->state, true);
    if (m_queue.size() > 0 && !m_drainPosted.exchange(true))
        QMetaObject::invokeMethod(this, &LineWorker::drain, Qt::QueuedConnection);
}

void LineWorker::publishStatus(const QString& reason)
{
    const bool online = reason.isEmpty() && m_port->isOpen();
    m_reportedSuperseded = m_queue.superseded();
    m_publish(QStringLiteral("status"),
              online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"), true);
    QJsonObject detail{{QStringLiteral("state"), online ? "online" : "offline"},
                       {QStringLiteral("port"), m_port->devicePath()},
                       {QStringLiteral("sent"), qint64(m_sent)},
                       {QStringLiteral("superseded"), qint64(m_reportedSuperseded)},
                       {QStringLiteral("waiting"), m_queue.size()}};
    if (!online)
        detail.insert(QStringLiteral("reason"), reason);
    m_publish(QStringLiteral("status/detail"), QJsonDocument(detail).toJson(QJsonDocument::Compact),
              true);
}

} // namespace bridge
