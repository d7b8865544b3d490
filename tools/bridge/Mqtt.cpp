#include "tools/bridge/Mqtt.h"

#include "serial/Deadline.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <QElapsedTimer>
#include <QFile>

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
// A connection that held this long ends the outage it came after.
constexpr int SteadyMs = 10000;
// A connection lost sooner, right after a connect that worked at the first
// try, looks like another client taking the session.
constexpr int QuickLossMs = 30000;

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

// libmosquitto's texts end in a full stop; ours go on after them.
QString libraryText(int rc)
{
    QString text = QString::fromUtf8(mosquitto_strerror(rc));
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

QString connackText(int rc)
{
    switch (rc) {
    case 1:
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return QStringLiteral("it does not speak MQTT 5 (Mosquitto does from 1.6 on)");
    case 2:
    case MQTT_RC_CLIENTID_NOT_VALID:
        return QStringLiteral("it refused the client id");
    case 4:
    case 5:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
    case MQTT_RC_NOT_AUTHORIZED:
        // Brokers answer a wrong password either way.
        return QStringLiteral("it refused the login: wrong user or password, or not allowed");
    default:
        return QString::fromUtf8(mosquitto_reason_string(rc));
    }
}

bool isLoginRefusal(int rc)
{
    return rc == 4 || rc == 5 || rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD ||
           rc == MQTT_RC_NOT_AUTHORIZED;
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

// What the TLS library says after its "error:0A000086:SSL routines::".
QString tlsReason(const char* logLine)
{
    const QString text = QString::fromUtf8(logLine);
    const qsizetype routines = text.lastIndexOf(QLatin1String("::"));
    return routines >= 0 ? text.mid(routines + 2) : text;
}

} // namespace

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

Checked<void> Mqtt::checkCaFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refusal{QStringLiteral("--cafile \"%1\": %2").arg(path, file.errorString())};
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(
        SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    ERR_clear_error();
    if (context &&
        SSL_CTX_load_verify_locations(context.get(), path.toLocal8Bit().constData(), nullptr) == 1)
        return {};
    const unsigned long error = ERR_peek_last_error();
    const char* reason = error ? ERR_reason_error_string(error) : nullptr;
    return Refusal{QStringLiteral("--cafile \"%1\": %2")
                       .arg(path, reason ? QString::fromUtf8(reason)
                                         : QStringLiteral("no certificate the TLS library takes"))};
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

QString Mqtt::failureText(int rc) const
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (rc == MOSQ_ERR_TLS || (m_settings.tls && !m_tlsErrors.isEmpty())) {
        // libmosquitto checks the host name itself, and the verdict it leaves
        // then says only "unspecified": its own words come first.
        const QString said = m_tlsErrors.join(QStringLiteral("; "));
        if (said.contains(QLatin1String("host name verification failed")))
            return QStringLiteral("the broker's certificate is not for %1").arg(m_settings.host);
        if (!m_untrusted.isEmpty())
            return QStringLiteral("the broker's certificate is not trusted: %1 (--cafile %2)")
                .arg(m_untrusted, m_settings.caFile);
        // What a server that answers a TLS greeting in plain text, or hangs up
        // on it, leaves the TLS library to say.
        for (const char* sign : {"wrong version number", "unexpected eof", "packet length too long",
                                 "record layer failure", "http request"}) {
            if (said.contains(QLatin1String(sign)))
                return QStringLiteral("it does not speak TLS on this port (%1); a plain broker is "
                                      "mqtt://")
                    .arg(m_tlsErrors.last());
        }
        return QStringLiteral("TLS failed: %1")
            .arg(said.isEmpty() ? libraryText(MOSQ_ERR_TLS) : said);
    }
    if (rc == MOSQ_ERR_CONN_LOST && m_answer == Answer::None)
        return QStringLiteral("it closed the connection without an answer%1")
            .arg(m_settings.tls ? QString() : QStringLiteral(" (a TLS port wants mqtts://)"));
    return libraryText(rc);
}

QString Mqtt::lossText(int rc, qint64 livedMs)
{
    if (livedMs >= SteadyMs) {
        m_outageStartMs = -1;
        m_delayMs = 0;
    }
    // Mosquitto closes the older of two connections with one client id
    // without a word. A connection that worked at the first try after a loss
    // and was lost again soon, twice in a row, is that.
    if (rc == MOSQ_ERR_CONN_LOST && m_failedSinceLoss == 0 && livedMs < QuickLossMs)
        ++m_quickLosses;
    else
        m_quickLosses = rc == MOSQ_ERR_CONN_LOST ? 1 : 0;
    m_failedSinceLoss = 0;
    if (m_quickLosses >= 2)
        return QStringLiteral("broker %1: another client with id %2 took the session; two "
                              "programs with one client id throw each other out")
            .arg(brokerName(), m_settings.clientId);
    return QStringLiteral("lost the broker %1: %2").arg(brokerName(), failureText(rc));
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

void Mqtt::onLog(mosquitto* client, void* self, int level, const char* text)
{
    if (!(level & MOSQ_LOG_ERR) || !text)
        return;
    // Only the handshake's words are kept, and it runs on the network thread.
    const QString line = QString::fromUtf8(text);
    const bool fromTls = line.startsWith(QLatin1String("OpenSSL Error"));
    if (!fromTls && !line.contains(QLatin1String("host name verification failed")))
        return;
    auto* mqtt = static_cast<Mqtt*>(self);
    mqtt->m_tlsErrors << (fromTls ? tlsReason(text) : line);
    // The handshake's own verdict on the certificate, while it is still there.
    if (auto* ssl = static_cast<SSL*>(mosquitto_ssl_get(client))) {
        const long verdict = SSL_get_verify_result(ssl);
        if (verdict != X509_V_OK)
            mqtt->m_untrusted = QString::fromUtf8(X509_verify_cert_error_string(verdict));
    }
}
