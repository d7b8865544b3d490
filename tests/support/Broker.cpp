#include "tests/support/Broker.h"

#include "tests/support/Process.h"
#include "tests/support/Ser2net.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

#include <mosquitto.h>
#include <pwd.h>
#include <unistd.h>

static constexpr int StartTimeoutMs = 10000;

bool Broker::installed()
{
    return !QStandardPaths::findExecutable(QStringLiteral("mosquitto")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd")).isEmpty();
}

bool Broker::start(QString* why)
{
    if (m_port == 0)
        m_port = Ser2net::freePort();
    // As root, mosquitto would drop to its own user, which cannot read the
    // test's files.
    const passwd* me = ::getpwuid(::geteuid());
    QByteArray config = "listener " + QByteArray::number(m_port) + " 127.0.0.1\n" +
                        "persistence false\n" + "user " + QByteArray(me ? me->pw_name : "root") +
                        "\n" + m_listenerOptions;
    if (m_user.isEmpty()) {
        config += "allow_anonymous true\n";
    } else {
        const QString passwords = m_dir.filePath(QStringLiteral("passwords"));
        const Finished tool =
            runToEnd(QStringLiteral("mosquitto_passwd"),
                     {QStringLiteral("-c"), QStringLiteral("-b"), passwords, m_user, m_password},
                     StartTimeoutMs);
        if (tool.status != 0) {
            *why = "mosquitto_passwd failed: " + QString::fromLocal8Bit(tool.err);
            return false;
        }
        config += "allow_anonymous false\npassword_file " + passwords.toUtf8() + "\n";
    }
    QFile file(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        *why = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    file.close();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), file.fileName()});
    m_process.waitForStarted(StartTimeoutMs);
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!acceptsConnections(m_port)) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            *why = QStringLiteral("mosquitto is not listening on %1: %2 %3")
                       .arg(m_port)
                       .arg(m_process.errorString(), QString::fromLocal8Bit(m_process.readAll()));
            stop();
            return false;
        }
        m_process.waitForReadyRead(20);
    }
    return true;
}

void Broker::stop()
{
    stopChild(m_process, 5000);
}

MqttProbe::MqttProbe()
{
    mosquitto_lib_init();
    m_client = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(m_client, [](mosquitto*, void* self, int rc) {
        static_cast<MqttProbe*>(self)->m_connectResult = rc;
    });
    mosquitto_subscribe_callback_set(m_client, [](mosquitto*, void* self, int, int, const int*) {
        static_cast<MqttProbe*>(self)->m_subscribed = true;
    });
    mosquitto_publish_callback_set(
        m_client, [](mosquitto*, void* self, int) { ++static_cast<MqttProbe*>(self)->m_acks; });
    mosquitto_message_callback_set(m_client, [](mosquitto*, void* self,
                                                const mosquitto_message* m) {
        auto* probe = static_cast<MqttProbe*>(self);
        const QMutexLocker lock(&probe->m_mutex);
        probe->m_messages.append({QString::fromUtf8(m->topic),
                                  QByteArray(static_cast<const char*>(m->payload), m->payloadlen),
                                  m->retain});
    });
}

MqttProbe::~MqttProbe()
{
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, true);
    mosquitto_destroy(m_client);
}

bool MqttProbe::connect(quint16 port, const QStringList& filters, QString* why, const QString& user,
                        const QString& password)
{
    if (!user.isEmpty())
        mosquitto_username_pw_set(m_client, user.toUtf8().constData(),
                                  password.toUtf8().constData());
    if (mosquitto_connect(m_client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS) {
        *why = QStringLiteral("no broker on port %1").arg(port);
        return false;
    }
    for (const QString& filter : filters)
        mosquitto_subscribe(m_client, nullptr, filter.toUtf8().constData(), 1);
    if (!pollUntil(StartTimeoutMs, [&] {
            return m_connectResult > 0 ||
                   (m_connectResult == 0 && (m_subscribed || filters.isEmpty()));
        })) {
        *why = QStringLiteral("the broker did not answer the probe");
        return false;
    }
    if (m_connectResult > 0)
        *why = QStringLiteral("the broker refused the probe: %1").arg(m_connectResult);
    return m_connectResult == 0;
}

bool MqttProbe::publish(const QString& topic, const QByteArray& payload, int qos, bool retain)
{
    const int before = m_acks;
    return mosquitto_publish(m_client, nullptr, topic.toUtf8().constData(), int(payload.size()),
                             payload.constData(), qos, retain) == MOSQ_ERR_SUCCESS &&
           pollUntil(StartTimeoutMs, [&] { return m_acks > before; });
}

void MqttProbe::publishMany(const QList<QPair<QString, QByteArray>>& messages, int qos)
{
    for (const auto& [topic, payload] : messages)
        mosquitto_publish(m_client, nullptr, topic.toUtf8().constData(), int(payload.size()),
                          payload.constData(), qos, false);
}

void MqttProbe::clear()
{
    const QMutexLocker lock(&m_mutex);
    m_messages.clear();
}

bool MqttProbe::waitFor(const QString& topic, const QByteArray& payload, int timeoutMs) const
{
    return waitFor([&](const Message& m) { return m.topic == topic && m.payload == payload; },
                   timeoutMs);
}

bool MqttProbe::seen(const std::function<bool(const Message&)>& match) const
{
    const QMutexLocker lock(&m_mutex);
    return std::any_of(m_messages.cbegin(), m_messages.cend(), match);
}

bool MqttProbe::waitFor(const std::function<bool(const Message&)>& match, int timeoutMs) const
{
    return pollUntil(timeoutMs, [this, &match] { return seen(match); });
}
