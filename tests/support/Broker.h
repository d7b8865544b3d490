#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <functional>

struct mosquitto;

// A real Mosquitto broker, the test's child in the foreground, listening on
// 127.0.0.1 only. With a user, only that user with that password gets in
// (a password file made with mosquitto_passwd).
class Broker
{
public:
    explicit Broker(QString user = QString(), QString password = QString(), quint16 port = 0)
        : m_user(std::move(user)), m_password(std::move(password)), m_port(port)
    {
    }
    ~Broker() { stop(); }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    static bool installed();

    // On port() (a free one the first time, the same one after a stop),
    // waiting with a deadline until it takes connections.
    bool start(QString* why);
    void stop();

    // For the next start (a TLS certificate and key).
    void setListenerOptions(const QByteArray& lines) { m_listenerOptions = lines; }

    quint16 port() const { return m_port; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }

private:
    QString m_user;
    QString m_password;
    quint16 m_port = 0;
    QByteArray m_listenerOptions;
    QTemporaryDir m_dir;
    QProcess m_process;
};

// A client in the test that keeps what arrives; its network runs on
// libmosquitto's thread.
class MqttProbe
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    MqttProbe();
    ~MqttProbe();
    MqttProbe(const MqttProbe&) = delete;
    MqttProbe& operator=(const MqttProbe&) = delete;

    // Waits with a deadline for the broker's answer to both.
    bool connect(quint16 port, const QStringList& filters, QString* why,
                 const QString& user = QString(), const QString& password = QString());
    // Waits until the broker has the message (QoS 1) or it has gone out.
    bool publish(const QString& topic, const QByteArray& payload, int qos = 1, bool retain = false);
    void publishMany(const QList<QPair<QString, QByteArray>>& messages, int qos = 0);
    // QoS 1 and 2 publications the broker has acknowledged so far.
    int acknowledged() const { return m_acks; }

    void clear();
    // Whether a message that matches has come since the last clear.
    bool waitFor(const QString& topic, const QByteArray& payload, int timeoutMs) const;
    bool waitFor(const std::function<bool(const Message&)>& match, int timeoutMs) const;

private:
    bool seen(const std::function<bool(const Message&)>& match) const;

    mosquitto* m_client = nullptr;
    mutable QMutex m_mutex;
    QList<Message> m_messages;
    // Set on libmosquitto's thread.
    std::atomic<int> m_acks{0};
    std::atomic<bool> m_subscribed{false};
    std::atomic<int> m_connectResult{-1};
};
