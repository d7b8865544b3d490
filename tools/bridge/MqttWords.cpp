// What the broker, libmosquitto and the TLS library say, in the operator's
// words: a refused connect, a failed handshake, a CA file that will not do,
// a connection lost (and the session another client took).
#include "tools/bridge/MqttWords.h"

#include "tools/bridge/Mqtt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <QFile>

#include <cerrno>
#include <cstring>
#include <memory>

namespace mqttwords {

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

} // namespace mqttwords

namespace {

// A connection that held this long ends the outage it came after.
constexpr int SteadyMs = 10000;
// A connection lost sooner, right after a connect that worked at the first
// try, looks like another client taking the session.
constexpr int QuickLossMs = 30000;

// What the TLS library says after its "error:0A000086:SSL routines::".
QString tlsReason(const char* logLine)
{
    const QString text = QString::fromUtf8(logLine);
    const qsizetype routines = text.lastIndexOf(QLatin1String("::"));
    return routines >= 0 ? text.mid(routines + 2) : text;
}

} // namespace

using mqttwords::libraryText;

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
