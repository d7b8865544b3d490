#pragma once

#include "tools/bridge/LineWorker.h"
#include "tools/bridge/Mqtt.h"
#include "tools/bridge/Options.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QThread>

#include <memory>

namespace bridge {

// The Home Assistant discovery topics for a bridge: one device per module,
// with a text entity and a number entity. node is the bridge's own folder
// under each component, so that configs it no longer wants can be found.
struct DiscoveryConfig
{
    QString topic;
    QByteArray payload;
};
QList<DiscoveryConfig> discoveryConfigs(const Config& config, const QString& node);
// The node id for a client id: letters, digits, '_' and '-' only.
QString discoveryNode(const QString& clientId);

// Everything between the broker and the lines: messages become orders on the
// line their topic names, refusals go to PREFIX/LINE/error, what the lines
// took comes back as retained state.
class Bridge : public QObject
{
    Q_OBJECT

public:
    Bridge(Config config, Mqtt::Settings broker, QMap<int, QString> portMap);
    ~Bridge() override;

    Checked<void> start();
    // Lets every line finish its frame and close, says offline for each line
    // and the bridge, and disconnects. True when the broker took all of it.
    bool stop();

    // "mqtt://127.0.0.1:1883", for messages.
    QString brokerName() const { return m_mqtt->brokerName(); }

    // The one way to a line, for the broker's messages and the page's alike:
    // the order is queued, or refused with the reason, which also goes to
    // PREFIX/LINE/error. levels are the topic's after PREFIX/LINE/.
    Checked<void> order(const QString& line, const QStringList& levels, const QByteArray& payload);
    const Config& config() const { return m_config; }

signals:
    // The broker turned the login down: there is no point in trying again.
    void refused(const QString& why);

    // For the page, from any thread: what the bridge tells the broker about
    // a line (topic under PREFIX/LINE/), each frame once it has left, and
    // the broker won or lost.
    void published(const QString& line, const QString& topic, const QByteArray& payload);
    void frameSent(const QString& line, const QByteArray& frame);
    void brokerChanged(bool connected, const QString& why);

private:
    void onMessage(const QString& topic, const QByteArray& payload, bool retained);
    void refuse(const QString& line, const QString& topic, const QByteArray& payload,
                const QString& reason);
    void onDiscoveryMessage(const QString& topic, const QByteArray& payload);

    Config m_config;
    QString m_node;
    QSet<QString> m_wantedDiscovery;
    std::unique_ptr<Mqtt> m_mqtt;
    QMap<int, QString> m_portMap;
    QMap<QString, LineWorker*> m_lines;
    QList<QThread*> m_threads;
};

} // namespace bridge
