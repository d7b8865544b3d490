#pragma once

#include "common/Checked.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct mosquitto;

// The bridge's one connection to the broker, on a network thread of its
// own. It reconnects by itself with backoff (1 s up to 30 s) and on every
// connect subscribes again and publishes every retained topic's latest value
// again, so a broker that restarted without its store still shows what the
// lines show. publish() may be called from any thread.
class Mqtt
{
public:
    struct Settings
    {
        QString host = QStringLiteral("127.0.0.1");
        int port = 1883;
        bool tls = false;
        QString caFile;
        QString user; // empty: no login
        QString password;
        QString clientId;
        QString willTopic; // gets a retained "offline" when the bridge vanishes
        QStringList subscriptions;
        int keepAliveSeconds = 30;
    };

    // Called on the network thread, in the order the broker delivers.
    using MessageHandler =
        std::function<void(const QString& topic, const QByteArray& payload, bool retained)>;
    // Called on the network thread at each connect (ok) and each loss or
    // refusal (why says what, naming the broker).
    using StateHandler = std::function<void(bool ok, bool refused, const QString& why)>;

    Mqtt(Settings settings, MessageHandler onMessage, StateHandler onState);
    ~Mqtt();
    Mqtt(const Mqtt&) = delete;
    Mqtt& operator=(const Mqtt&) = delete;

    // "mqtt://127.0.0.1:1883", for messages.
    QString brokerName() const;

    // Starts the network thread; refused, saying why, when the client cannot
    // even be set up (a bad CA file, for example). A broker that is not there
    // yet is retried, not refused.
    Checked<void> start();
    // Says "offline" on the will topic and disconnects cleanly.
    void stop();

    // QoS 0 unless qos says otherwise; a retained value is remembered and
    // published again after every reconnect (an empty payload clears it).
    void publish(const QString& topic, const QByteArray& payload, bool retain, int qos = 0);

private:
    // The network thread: connects, runs libmosquitto's loop, and tries
    // again with backoff while there is no broker.
    void run();
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessageArrived(mosquitto*, void* self, const struct mosquitto_message* message);

    Settings m_settings;
    MessageHandler m_onMessage;
    StateHandler m_onState;
    mosquitto* m_client = nullptr;
    QMutex m_mutex; // the retained values, and their order against live publishes
    QMap<QString, QByteArray> m_retained;
    bool m_started = false;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::mutex m_waitMutex;
    std::condition_variable m_wake;
    bool m_connected = false; // the broker has taken the connect
};
