#include "tools/bridge/Bridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSemaphore>

#include "protocol/printable.h"

#include <cstdio>

namespace bridge {

QString discoveryNode(const QString& clientId)
{
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9_-]"));
    return QString(clientId).replace(other, QStringLiteral("_"));
}

QList<DiscoveryConfig> discoveryConfigs(const Config& config, const QString& node)
{
    QList<DiscoveryConfig> configs;
    const QJsonArray availability{
        QJsonObject{{"topic", config.prefix + QStringLiteral("/bridge/status")}}};
    // Two bridges with other prefixes may name their lines alike; their
    // entities and devices must not be taken for one another.
    const QString prefix = discoveryNode(config.prefix);
    for (auto line = config.modules.cbegin(); line != config.modules.cend(); ++line) {
        for (const int uid : line.value()) {
            const QString module = QStringLiteral("%1_%2").arg(line.key()).arg(uid);
            const QString id = node + QLatin1Char('_') + prefix + QLatin1Char('_') + module;
            const QString base =
                QStringLiteral("%1/%2/%3/").arg(config.prefix, line.key()).arg(uid);
            QJsonArray available = availability;
            available.append(QJsonObject{
                {"topic", QStringLiteral("%1/%2/status").arg(config.prefix, line.key())}});
            const QJsonObject device{
                {"identifiers", QJsonArray{id}},
                {"name", QStringLiteral("Quendra %1 %2").arg(line.key()).arg(uid)},
                {"model", "LED display module"}};
            const auto entity = [&](const char* component, const char* command,
                                    QJsonObject fields) {
                fields.insert("name", QLatin1String(component) == QLatin1String("text")
                                          ? QStringLiteral("Text")
                                          : QStringLiteral("Number"));
                fields.insert("unique_id", id + QLatin1Char('_') + QLatin1String(command));
                fields.insert("command_topic",
                              base + QLatin1String(command) + QStringLiteral("/set"));
                fields.insert("state_topic", base + QLatin1String(command));
                fields.insert("availability", available);
                fields.insert("availability_mode", "all");
                fields.insert("device", device);
                configs.append(
                    {QStringLiteral("%1/%2/%3/%4/config")
                         .arg(config.discoveryPrefix, QLatin1String(component), node, module),
                     QJsonDocument(fields).toJson(QJsonDocument::Compact)});
            };
            entity("text", "text", {{"min", 0}, {"max", 6}, {"mode", "text"}});
            entity("number", "long",
                   {{"min", -2147483648.0}, {"max", 4294967295.0}, {"step", 1}, {"mode", "box"}});
        }
    }
    return configs;
}

Bridge::Bridge(Config config, Mqtt::Settings broker, QMap<int, QString> portMap)
    : m_config(std::move(config)), m_node(discoveryNode(broker.clientId)),
      m_portMap(std::move(portMap))
{
    broker.willTopic = m_config.prefix + QStringLiteral("/bridge/status");
    for (const NamedLine& line : m_config.lines) {
        const QString base = m_config.prefix + QLatin1Char('/') + line.name;
        broker.subscriptions << base + QStringLiteral("/+/+/set")
                             << base + QStringLiteral("/+/set");
    }
    if (m_config.discovery)
        broker.subscriptions
            << QStringLiteral("%1/+/%2/+/config").arg(m_config.discoveryPrefix, m_node);
    m_mqtt = std::make_unique<Mqtt>(
        broker,
        [this](const QString& topic, const QByteArray& payload, bool retained) {
            onMessage(topic, payload, retained);
        },
        [this](bool ok, bool refused, const QString& why) {
            emit brokerChanged(ok, ok ? m_mqtt->brokerName() : why);
            if (ok) {
                std::fprintf(stderr, "quendra-bridge: connected to %s\n",
                             qPrintable(m_mqtt->brokerName()));
                return;
            }
            std::fprintf(stderr, "quendra-bridge: %s\n", qPrintable(why));
            if (refused)
                QMetaObject::invokeMethod(
                    this, [this, why] { emit this->refused(why); }, Qt::QueuedConnection);
        });
}

Bridge::~Bridge()
{
    stop();
}

Checked<void> Bridge::start()
{
    for (const NamedLine& line : m_config.lines) {
        const QString base = m_config.prefix + QLatin1Char('/') + line.name + QLatin1Char('/');
        auto* worker =
            new LineWorker(line, m_portMap,
                           [this, base, name = line.name](const QString& topic,
                                                          const QByteArray& payload, bool retain) {
                               m_mqtt->publish(base + topic, payload, retain,
                                               topic.startsWith(QLatin1String("status")) ? 1 : 0);
                               emit published(name, topic, payload);
                           });
        worker->setOnSent(
            [this, name = line.name](const QByteArray& frame) { emit frameSent(name, frame); });
        auto* thread = new QThread;
        worker->moveToThread(thread);
        connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        thread->start();
        QMetaObject::invokeMethod(worker, &LineWorker::start, Qt::QueuedConnection);
        m_lines.insert(line.name, worker);
        m_threads << thread;
    }
    m_mqtt->publish(m_config.prefix + QStringLiteral("/bridge/status"), QByteArrayLiteral("online"),
                    true, 1);
    if (m_config.discovery) {
        for (const DiscoveryConfig& c : discoveryConfigs(m_config, m_node)) {
            m_wantedDiscovery.insert(c.topic);
            m_mqtt->publish(c.topic, c.payload, true, 1);
        }
    }
    if (!m_config.broker)
        return {};
    return m_mqtt->start();
}

bool Bridge::stop()
{
    if (m_threads.isEmpty())
        return false;
    // All lines at once: each finishes the frame it is writing, and a stalled
    // one holds up none of the others.
    QSemaphore stopped;
    for (LineWorker* worker : std::as_const(m_lines))
        QMetaObject::invokeMethod(
            worker,
            [worker, &stopped] {
                worker->stop();
                stopped.release();
            },
            Qt::QueuedConnection);
    stopped.acquire(int(m_lines.size()));
    const bool saidOffline = m_mqtt->stop();
    for (QThread* thread : std::as_const(m_threads)) {
        thread->quit();
        thread->wait();
        delete thread;
    }
    m_threads.clear();
    m_lines.clear();
    return saidOffline;
}

void Bridge::refuse(const QString& line, const QString& topic, const QByteArray& payload,
                    const QString& reason)
{
    const QJsonObject error{
        {"topic", topic}, {"payload", QString::fromUtf8(payload.left(64))}, {"reason", reason}};
    const QByteArray json = QJsonDocument(error).toJson(QJsonDocument::Compact);
    m_mqtt->publish(m_config.prefix + QLatin1Char('/') + line + QStringLiteral("/error"), json,
                    false);
    emit published(line, QStringLiteral("error"), json);
}

void Bridge::onDiscoveryMessage(const QString& topic, const QByteArray& payload)
{
    // A config this bridge once announced for a module no longer listed.
    if (!payload.isEmpty() && !m_wantedDiscovery.contains(topic))
        m_mqtt->publish(topic, QByteArray(), true, 1);
}

void Bridge::onMessage(const QString& topic, const QByteArray& payload, bool retained)
{
    if (m_config.discovery && topic.startsWith(m_config.discoveryPrefix + QLatin1Char('/'))) {
        onDiscoveryMessage(topic, payload);
        return;
    }
    const std::optional<TopicParts> parts = splitTopic(m_config.prefix, topic);
    if (!parts)
        return;
    LineWorker* worker = m_lines.value(parts->line);
    if (!worker)
        return;
    // A retained command, live or kept, would come again with every new
    // subscription and repeat an old order (a toggle would flip the display
    // again). Clearing one (an empty retained message) is no command at all.
    if (retained && payload.isEmpty())
        return;
    if (retained) {
        refuse(parts->line, topic, payload,
               QStringLiteral("a retained command is not carried out: it would come again at "
                              "every subscription; publish commands unretained"));
        return;
    }
    order(parts->line, parts->levels, payload);
}

Checked<void> Bridge::order(const QString& line, const QStringList& levels,
                            const QByteArray& payload)
{
    LineWorker* worker = m_lines.value(line);
    if (!worker)
        return Refusal{QStringLiteral("no line named \"%1\"")
                           .arg(protocol::printable(line, protocol::QuotedChars))};
    const QString topic = QStringLiteral("%1/%2/%3").arg(m_config.prefix, line, levels.join('/'));
    const Checked<Order> order = orderFor(levels, payload, m_config.allowed);
    QString reason;
    if (!order)
        reason = protocol::printable(order.message());
    else if (!worker->submit(*order))
        reason = QStringLiteral("too many toggles and frames wait for the line; try again later");
    else
        return {};
    refuse(line, topic, payload, reason);
    return Refusal{reason};
}

} // namespace bridge
