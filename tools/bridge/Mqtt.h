#pragma once

#include "common/Checked.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct mosquitto;
struct mosquitto_message;

// The bridge's one connection to the broker, on a network thread of its
// own, in MQTT 5: the broker keeps the session while the bridge is away and
// delivers every message with the retain flag it was published with. The
// thread connects, waits a bounded time for the broker's answer, and after
// a loss tries again about every second for the first 10 s, then less
// often, up to every 30 s. On every connect it subscribes again and
// publishes every retained topic's latest value again, so a broker that
// restarted without its store still shows what the lines show. publish()
// may be called from any thread.
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
    // even be set up. A broker that is not there yet is retried, not refused.
    Checked<void> start();
    // Says "offline" on the will topic, waits (bounded) until the broker has
    // taken every message that asked for its answer, and disconnects. True
    // when the broker was connected and took the goodbye.
    bool stop();

    // QoS 0 unless qos says otherwise; a retained value is remembered and
    // published again after every reconnect (an empty payload clears it).
    void publish(const QString& topic, const QByteArray& payload, bool retain, int qos = 0);

    // Whether FILE holds certificates the TLS library can trust; refused with
    // the library's own reason ("no certificate or crl found").
    static Checked<void> checkCaFile(const QString& path);

    // How long to wait before the next try, outageMs into an outage, the
    // last wait having been previousMs (0 for none): a second while the
    // outage is young, then twice the last wait, up to 30 s.
    static int retryDelayMs(qint64 outageMs, int previousMs);

private:
    // The network thread: attempts, serves, waits between tries.
    void run();
    // One connection from the first packet to its end; the reason it ended,
    // empty when the bridge is stopping.
    QString session();
    // Connects and waits for the broker's answer; why it failed, or nothing
    // once the broker took the connection.
    QString attempt();
    // Subscribes, says again what is retained and serves until the
    // connection ends; the reason it ended.
    QString serve();
    // Waits before the next try and says why, unless it said so already.
    void retryAfter(const QString& failure);
    // Lets the messages in flight reach the broker, then disconnects.
    void farewell();
    QString failureText(int rc) const;
    QString lossText(int rc, qint64 livedMs);

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublished(mosquitto*, void* self, int mid);
    static void onMessageArrived(mosquitto*, void* self, const mosquitto_message* message);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    Settings m_settings;
    MessageHandler m_onMessage;
    StateHandler m_onState;
    mosquitto* m_client = nullptr;
    QMutex m_mutex; // the retained values, the messages in flight, m_connected
    QMap<QString, QByteArray> m_retained;
    QSet<int> m_unanswered; // QoS 1 messages the broker has not yet taken
    bool m_connected = false;
    bool m_started = false;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::mutex m_waitMutex;
    std::condition_variable m_wake;

    // The network thread's own.
    enum class Answer
    {
        None,
        Accepted,
        Refused
    };
    std::atomic<Answer> m_answer{Answer::None};
    QString m_refusal;
    QStringList m_tlsErrors; // what the TLS library said during this attempt
    QString m_untrusted;     // why the broker's certificate was not trusted
    bool m_loginRefused = false;
    bool m_saidGoodbye = false;
    qint64 m_outageStartMs = -1;
    int m_delayMs = 0;
    int m_failedSinceLoss = 0;
    int m_quickLosses = 0;
    QString m_lastSaid;
};
