#include "tools/bridge/Mqtt.h"

#include "serial/Deadline.h"
#include "tools/bridge/MqttWords.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How long the broker has to take the connection and answer it.
constexpr int AnswerMs = 5000;
// One pass of the network loop: how soon a stop is seen.
constexpr int LoopMs = 200;
// What a stop gives the broker to take the last messages and the goodbye.
constexpr int FarewellMs = 3000;
// After a loss, every second for this long, then less often.
constexpr int FastRetryMs = 10000;
constexpr int FirstSlowRetryMs = 2000;
constexpr int LastRetryMs = 30000;
// libmosquitto wants its library set up once per process.
void initLibrary()
{
    static const int once = mosquitto_lib_init();
    (void)once;
}

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

// Whether host:port takes a TCP connection within AnswerMs. libmosquitto's
// own connect waits for as long as the kernel keeps trying (about two
// minutes for a host that drops the attempt), and a stop would wait with it;
// after this, its connect finds the broker at once.
Checked<void> tcpReachable(const QByteArray& host, int port, const std::atomic<bool>& stopping)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc =
            ::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found);
        rc != 0)
        return Refusal{QString::fromLocal8Bit(::gai_strerror(rc))};
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
    const QDeadlineTimer deadline = waits::within(AnswerMs);
    int error = ETIMEDOUT;
    for (const addrinfo* a = found; a && !stopping && !deadline.hasExpired(); a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        error = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            pollfd p = {fd, POLLOUT, 0};
            int ready = 0;
            while (ready == 0 && !stopping && !deadline.hasExpired())
                ready = ::poll(&p, 1, std::min(LoopMs, waits::remainingMs(deadline)));
            socklen_t size = sizeof error;
            if (ready <= 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = ETIMEDOUT;
        }
        ::close(fd);
        if (error == 0)
            return {};
    }
    if (error == ETIMEDOUT)
        return Refusal{QStringLiteral("no answer in %1 s").arg(AnswerMs / 1000)};
    return Refusal{QString::fromLocal8Bit(std::strerror(error))};
}

} // namespace

using mqttwords::connackText;
using mqttwords::isLoginRefusal;
using mqttwords::libraryText;

Mqtt::Mqtt(Settings settings, MessageHandler onMessage, StateHandler onState)
    : m_settings(std::move(settings)), m_onMessage(std::move(onMessage)),
      m_onState(std::move(onState))
{
    initLibrary();
    // A fixed id and a session the broker keeps (see attempt()): QoS 1
    // commands sent while the bridge was away wait at the broker for it.
    const QByteArray id = m_settings.clientId.toUtf8();
    m_client = mosquitto_new(id.constData(), false, this);
    if (m_client) {
        mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        // Each message is taken off the network at once, so the broker may
        // send as many as it likes unanswered: with libmosquitto's window of
        // 20 a burst piled up at the broker, past its queue limit, and was
        // dropped there.
        mosquitto_int_option(m_client, MOSQ_OPT_RECEIVE_MAXIMUM, 65535);
    }
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

int Mqtt::retryDelayMs(qint64 outageMs, int previousMs)
{
    if (outageMs < FastRetryMs)
        return 1000;
    return std::min(LastRetryMs, std::max(FirstSlowRetryMs, previousMs * 2));
}

Checked<void> Mqtt::start()
{
    if (!m_client)
        return Refusal{QStringLiteral("cannot make an MQTT client for %1").arg(brokerName())};
    mosquitto_connect_callback_set(m_client, &Mqtt::onConnect);
    mosquitto_disconnect_callback_set(m_client, &Mqtt::onDisconnect);
    mosquitto_publish_callback_set(m_client, &Mqtt::onPublished);
    mosquitto_message_callback_set(m_client, &Mqtt::onMessageArrived);
    mosquitto_log_callback_set(m_client, &Mqtt::onLog);
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
                               .arg(brokerName(), m_settings.caFile, libraryText(rc))};
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
    while (!m_stopping) {
        const QString failure = session();
        if (m_stopping)
            break;
        if (m_loginRefused) {
            // Trying again would be turned down the same way: the bridge ends.
            std::unique_lock<std::mutex> lock(m_waitMutex);
            m_wake.wait(lock, [this] { return bool(m_stopping); });
            break;
        }
        retryAfter(failure);
    }
    farewell();
}

QString Mqtt::session()
{
    QString failure = attempt();
    if (m_stopping)
        return {};
    if (m_answer != Answer::Accepted) {
        ++m_failedSinceLoss;
        return failure;
    }
    return serve();
}

QString Mqtt::attempt()
{
    const QByteArray host = m_settings.host.toUtf8();
    m_answer = Answer::None;
    if (const Checked<void> open = tcpReachable(host, m_settings.port, m_stopping); !open)
        return QStringLiteral("no broker at %1: %2").arg(brokerName(), open.message());
    m_tlsErrors.clear();
    m_untrusted.clear();
    // A session the broker keeps for ever: MQTT 5 ends it with the
    // connection unless the connect asks otherwise, every time.
    mosquitto_property* properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, UINT32_MAX);
    int rc = mosquitto_connect_bind_v5(m_client, host.constData(), m_settings.port,
                                       m_settings.keepAliveSeconds, nullptr, properties);
    mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS)
        return QString::fromLatin1(rc == MOSQ_ERR_TLS ? "broker %1: %2" : "no broker at %1: %2")
            .arg(brokerName(), failureText(rc));
    // The broker's answer, within its bound: a server that takes the
    // connection and says nothing is named as such.
    const QDeadlineTimer answer = waits::within(AnswerMs);
    while (!m_stopping && m_answer == Answer::None) {
        rc = mosquitto_loop(m_client, LoopMs, 1);
        // A refusal comes with the broker hanging up: the answer counts.
        if (m_answer != Answer::None)
            break;
        if (rc != MOSQ_ERR_SUCCESS)
            return QStringLiteral("broker %1: %2").arg(brokerName(), failureText(rc));
        if (answer.hasExpired())
            return QStringLiteral("%1 took the connection but gave no answer in %2 s")
                .arg(brokerName())
                .arg(AnswerMs / 1000);
    }
    if (m_answer == Answer::Refused && m_loginRefused)
        m_onState(false, true, m_refusal);
    return m_answer == Answer::Refused ? m_refusal : QString();
}

QString Mqtt::serve()
{
    for (const QString& filter : std::as_const(m_settings.subscriptions)) {
        // Retain as published: a retained command is told apart from a live
        // one also when it arrives while the bridge is connected.
        const QByteArray f = filter.toUtf8();
        mosquitto_subscribe_v5(m_client, nullptr, f.constData(), 1,
                               MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    }
    {
        const QMutexLocker lock(&m_mutex);
        m_connected = true;
        for (auto it = m_retained.cbegin(); it != m_retained.cend(); ++it) {
            const QByteArray name = it.key().toUtf8();
            int mid = 0;
            if (mosquitto_publish(m_client, &mid, name.constData(), int(it.value().size()),
                                  it.value().constData(), 1, true) == MOSQ_ERR_SUCCESS)
                m_unanswered.insert(mid);
        }
    }
    m_lastSaid.clear();
    m_onState(true, false, QString());
    const qint64 connectedAt = monotonicMs();
    while (!m_stopping) {
        const int rc = mosquitto_loop(m_client, LoopMs, 1);
        if (rc != MOSQ_ERR_SUCCESS)
            return lossText(rc, monotonicMs() - connectedAt);
    }
    return {};
}

void Mqtt::retryAfter(const QString& failure)
{
    const qint64 now = monotonicMs();
    if (m_outageStartMs < 0)
        m_outageStartMs = now;
    m_delayMs = retryDelayMs(now - m_outageStartMs, m_delayMs);
    // Once for each new reason while retrying every second; then at each
    // longer wait, which is at most one line every 30 s.
    if (failure != m_lastSaid || m_delayMs > 1000)
        m_onState(false, false,
                  QStringLiteral("%1; trying again in %2 s").arg(failure).arg(m_delayMs / 1000));
    m_lastSaid = failure;
    std::unique_lock<std::mutex> lock(m_waitMutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(m_delayMs),
                    [this] { return bool(m_stopping); });
}

void Mqtt::farewell()
{
    bool connected = false;
    const auto unanswered = [&] {
        const QMutexLocker lock(&m_mutex);
        connected = m_connected;
        return m_unanswered.size();
    };
    qsizetype left = unanswered();
    if (!connected)
        return;
    // The lines' last words first: the broker takes each before the goodbye.
    const QDeadlineTimer deadline = waits::within(FarewellMs);
    while (left > 0 && connected && !deadline.hasExpired()) {
        mosquitto_loop(m_client, LoopMs, 1);
        left = unanswered();
    }
    mosquitto_disconnect(m_client);
    while (connected && !deadline.hasExpired()) {
        mosquitto_loop(m_client, LoopMs, 1);
        unanswered();
    }
    m_saidGoodbye = left == 0 && !connected;
}

bool Mqtt::stop()
{
    if (!m_started)
        return m_saidGoodbye;
    m_started = false;
    if (!m_settings.willTopic.isEmpty())
        publish(m_settings.willTopic, QByteArrayLiteral("offline"), true, 1);
    {
        const std::lock_guard<std::mutex> lock(m_waitMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    return m_saidGoodbye;
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
    int mid = 0;
    if (mosquitto_publish(m_client, &mid, name.constData(), int(payload.size()),
                          payload.constData(), qos, retain) == MOSQ_ERR_SUCCESS &&
        qos > 0)
        m_unanswered.insert(mid);
}

void Mqtt::onConnect(mosquitto*, void* self, int rc)
{
    auto* mqtt = static_cast<Mqtt*>(self);
    if (rc != 0) {
        mqtt->m_refusal = QStringLiteral("broker %1: %2").arg(mqtt->brokerName(), connackText(rc));
        mqtt->m_loginRefused = isLoginRefusal(rc);
    }
    mqtt->m_answer = rc == 0 ? Answer::Accepted : Answer::Refused;
}

void Mqtt::onDisconnect(mosquitto*, void* self, int)
{
    auto* mqtt = static_cast<Mqtt*>(self);
    const QMutexLocker lock(&mqtt->m_mutex);
    mqtt->m_connected = false;
    // What was in flight is libmosquitto's to send again with the session.
    mqtt->m_unanswered.clear();
}

void Mqtt::onPublished(mosquitto*, void* self, int mid)
{
    auto* mqtt = static_cast<Mqtt*>(self);
    const QMutexLocker lock(&mqtt->m_mutex);
    mqtt->m_unanswered.remove(mid);
}

void Mqtt::onMessageArrived(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* mqtt = static_cast<Mqtt*>(self);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    mqtt->m_onMessage(QString::fromUtf8(message->topic), payload, message->retain);
}
