#include "tools/bridge/Mqtt.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// libmosquitto wants its library set up once per process.
void initLibrary()
{
    static const int once = mosquitto_lib_init();
    (void)once;
}

QString connackText(int rc)
{
    switch (rc) {
    case 1:
        return QStringLiteral("it does not speak this protocol version");
    case 2:
        return QStringLiteral("it refused the client id");
    case 3:
        return QStringLiteral("it is unavailable");
    case 4:
    case 5:
        // Brokers answer a wrong password either way.
        return QStringLiteral("it refused the login: wrong user or password, or not allowed");
    default:
        return QString::fromUtf8(mosquitto_connack_string(rc));
    }
}

} // namespace

Mqtt::Mqtt(Settings settings, MessageHandler onMessage, StateHandler onState)
    : m_settings(std::move(settings)), m_onMessage(std::move(onMessage)),
      m_onState(std::move(onState))
{
    initLibrary();
    // A fixed id and a kept session: QoS 1 commands sent while the bridge was
    // away wait at the broker for it.
    const QByteArray id = m_settings.clientId.toUtf8();
    m_client = mosquitto_new(id.constData(), false, this);
}

Mqtt::~Mqtt()
{
    stop();
    if (m_client)
        mosquitto_destroy(m_client);
}

QString Mqtt::brokerName() const
{
    return QStringLiteral("%1://%2:%3")
        .arg(m_settings.tls ? "mqtts" : "mqtt", m_settings.host)
        .arg(m_settings.port);
}

Checked<void> Mqtt::start()
{
    if (!m_client)
        return Refusal{QStringLiteral("cannot make an MQTT client for %1").arg(brokerName())};
    mosquitto_connect_callback_set(m_client, &Mqtt::onConnect);
    mosquitto_disconnect_callback_set(m_client, &Mqtt::onDisconnect);
    mosquitto_message_callback_set(m_client, &Mqtt::onMessageArrived);
    mosquitto_reconnect_delay_set(m_client, 1, 30, true);
    if (!m_settings.user.isEmpty()) {
        const QByteArray user = m_settings.user.toUtf8();
        const QByteArray password = m_settings.password.toUtf8();
        mosquitto_username_pw_set(m_client, user.constData(),
                                  m_settings.password.isEmpty() ? nullptr : password.constData());
    }
    if (m_settings.tls) {
        const QByteArray ca = m_settings.caFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(m_client, ca.isEmpty() ? nullptr : ca.constData(), nullptr,
                                         nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return Refusal{QStringLiteral("%1: CA file \"%2\": %3")
                               .arg(brokerName(), m_settings.caFile,
                                    QString::fromUtf8(mosquitto_strerror(rc)))};
    }
    if (!m_settings.willTopic.isEmpty()) {
        const QByteArray topic = m_settings.willTopic.toUtf8();
        mosquitto_will_set(m_client, topic.constData(), 7, "offline", 1, true);
    }
    mosquitto_threaded_set(m_client, true);
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
    m_started = true;
    return {};
}

void Mqtt::run()
{
    const QByteArray host = m_settings.host.toUtf8();
    int delaySeconds = 1;
    while (!m_stopping) {
        // Once connected, the loop reconnects by itself after a loss; it
        // returns when the bridge disconnects or the connection cannot be
        // made at all, and a broker that is not up yet is tried again here.
        int rc = mosquitto_connect_async(m_client, host.constData(), m_settings.port,
                                         m_settings.keepAliveSeconds);
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop_forever(m_client, 1000, 1);
            if (m_stopping)
                break;
        }
        const QString why = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                                 : QString::fromUtf8(mosquitto_strerror(rc));
        m_onState(false, false,
                  QStringLiteral("no broker at %1: %2; trying again in %3 s")
                      .arg(brokerName(), why)
                      .arg(delaySeconds));
        std::unique_lock<std::mutex> lock(m_waitMutex);
        m_wake.wait_for(lock, std::chrono::seconds(delaySeconds),
                        [this] { return bool(m_stopping); });
        delaySeconds = std::min(delaySeconds * 2, 30);
    }
}

void Mqtt::stop()
{
    if (!m_started)
        return;
    m_started = false;
    if (!m_settings.willTopic.isEmpty())
        publish(m_settings.willTopic, QByteArrayLiteral("offline"), true, 1);
    {
        const std::lock_guard<std::mutex> lock(m_waitMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    // The loop returns once the disconnect has gone out, or within its
    // one-second pass when there is no connection.
    mosquitto_disconnect(m_client);
    m_thread.join();
}

void Mqtt::publish(const QString& topic, const QByteArray& payload, bool retain, int qos)
{
    const QByteArray name = topic.toUtf8();
    const QMutexLocker lock(&m_mutex);
    if (retain) {
        if (payload.isEmpty())
            m_retained.remove(topic);
        else
            m_retained.insert(topic, payload);
    }
    // While there is no connection the retained value waits in m_retained;
    // anything else is gone, as a live value should be. Nothing may go out
    // before the broker has taken the connect: it would end the session.
    if (!m_connected)
        return;
    mosquitto_publish(m_client, nullptr, name.constData(), int(payload.size()), payload.constData(),
                      qos, retain);
}

void Mqtt::onConnect(mosquitto* client, void* self, int rc)
{
    auto* mqtt = static_cast<Mqtt*>(self);
    if (rc != 0) {
        mqtt->m_onState(false, rc == 4 || rc == 5,
                        QStringLiteral("broker %1: %2").arg(mqtt->brokerName(), connackText(rc)));
        return;
    }
    for (const QString& filter : mqtt->m_settings.subscriptions) {
        const QByteArray f = filter.toUtf8();
        mosquitto_subscribe(client, nullptr, f.constData(), 1);
    }
    {
        const QMutexLocker lock(&mqtt->m_mutex);
        mqtt->m_connected = true;
        for (auto it = mqtt->m_retained.cbegin(); it != mqtt->m_retained.cend(); ++it) {
            const QByteArray name = it.key().toUtf8();
            mosquitto_publish(client, nullptr, name.constData(), int(it.value().size()),
                              it.value().constData(), 1, true);
        }
    }
    mqtt->m_onState(true, false, QString());
}

void Mqtt::onDisconnect(mosquitto*, void* self, int rc)
{
    auto* mqtt = static_cast<Mqtt*>(self);
    bool wasConnected = false;
    {
        const QMutexLocker lock(&mqtt->m_mutex);
        wasConnected = mqtt->m_connected;
        mqtt->m_connected = false;
    }
    if (rc == 0)
        return; // asked for
    const QString why = QString::fromUtf8(mosquitto_strerror(rc));
    mqtt->m_onState(false, false,
                    wasConnected
                        ? QStringLiteral("lost the broker %1: %2").arg(mqtt->brokerName(), why)
                        : QStringLiteral("no broker at %1: %2").arg(mqtt->brokerName(), why));
}

void Mqtt::onMessageArrived(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* mqtt = static_cast<Mqtt*>(self);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    mqtt->m_onMessage(QString::fromUtf8(message->topic), payload, message->retain);
}
