#pragma once

#include "tests/support/Broker.h"
#include "tests/support/Pty.h"
#include "tests/support/WebBridge.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <functional>
#include <memory>
#include <optional>

namespace webapi {

constexpr int WaitMs = 15000;
inline const QByteArray Token = "tst-web-api-0123456789";

inline QByteArray bearer()
{
    return "Bearer " + Token;
}

// A broker, a line "desk" on a pty with module 5 listed, and a bridge that
// serves the page with Token asked for.
struct Fixture
{
    QTemporaryDir dir;
    Broker broker;
    Pty desk;
    std::unique_ptr<MqttProbe> probe;
    std::unique_ptr<WebBridge> bridge;

    bool start(const QString& clientId, QString* why)
    {
        if (!broker.start(why))
            return false;
        probe = std::make_unique<MqttProbe>();
        if (!probe->connect(broker.port(), {"quendra/#"}, why))
            return false;
        bridge = std::make_unique<WebBridge>(
            QStringList{"--web-token-file", writeFile(dir.filePath("token"), Token), "--broker",
                        broker.url(), "--line", "desk=" + desk.devicePath() + "@9600,n,8,1",
                        "--modules", "desk:5", "--client-id", clientId});
        if (!bridge->serving(WaitMs, why))
            return false;
        *why = QStringLiteral("the line did not come online");
        return probe->waitFor("quendra/desk/status", "online", WaitMs);
    }
    QString api() const { return "ws://" + bridge->authority() + "/api"; }
    quint16 port() const { return bridge->authority().section(':', 1).toUShort(); }
};

// A page's WebSocket: every message kept, the close code once closed.
class ApiClient : public QObject
{
public:
    // From the page's own origin unless origin says otherwise.
    explicit ApiClient(const Fixture& web, const QByteArray& authorization = bearer(),
                       const QString& origin = QString())
        : m_socket(origin.isNull() ? "http://" + web.bridge->authority() : origin)
    {
        QNetworkRequest request{QUrl(web.api())};
        if (!authorization.isEmpty())
            request.setRawHeader("Authorization", authorization);
        connect(&m_socket, &QWebSocket::connected, this, [this] { m_connected = true; });
        connect(&m_socket, &QWebSocket::disconnected, this, [this] {
            m_closed = true;
            m_closeCode = m_socket.closeCode();
            m_closeReason = m_socket.closeReason();
        });
        connect(&m_socket, &QWebSocket::textMessageReceived, this,
                [this](const QString& text) { m_texts << text; });
        m_socket.open(request);
    }
    // Closed before it goes: a QWebSocket destroyed open loses memory.
    ~ApiClient() override
    {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return;
        m_socket.close();
        (void)QTest::qWaitFor([&] { return m_closed; }, 5000);
    }

    bool opens()
    {
        return QTest::qWaitFor([&] { return m_connected || m_closed; }, WaitMs) && m_connected;
    }
    // Flushed: the test may block on the line next.
    void send(const QString& text)
    {
        m_socket.sendTextMessage(text);
        m_socket.flush();
    }
    void send(const QString& topic, const QJsonValue& payload)
    {
        send(QString::fromUtf8(QJsonDocument(QJsonObject{{"topic", topic}, {"payload", payload}})
                                   .toJson(QJsonDocument::Compact)));
    }
    // Opens, says hello and is let in.
    bool joins()
    {
        if (!opens())
            return false;
        send("bridge/hello", QJsonObject());
        return bool(waitFor("bridge/info"));
    }
    std::optional<QJsonValue> waitFor(const QString& topic,
                                      const std::function<bool(const QJsonValue&)>& match = {},
                                      int ms = WaitMs)
    {
        std::optional<QJsonValue> found;
        const QString quoted = "\"topic\":\"" + topic + '"';
        qsizetype next = 0;
        (void)QTest::qWaitFor(
            [&] {
                // Each message is looked at once: a flood must not slow the reading.
                for (; next < m_texts.size(); ++next) {
                    if (!m_texts[next].contains(quoted))
                        continue;
                    const QJsonObject m = QJsonDocument::fromJson(m_texts[next].toUtf8()).object();
                    if (!match || match(m.value("payload"))) {
                        found = m.value("payload");
                        return true;
                    }
                }
                return false;
            },
            ms);
        return found;
    }
    bool closes(int ms = WaitMs)
    {
        return QTest::qWaitFor([&] { return m_closed; }, ms);
    }
    int closeCode() const { return m_closeCode; }
    const QString& closeReason() const { return m_closeReason; }
    QString firstTopic() const
    {
        return QJsonDocument::fromJson(m_texts.value(0).toUtf8())["topic"].toString();
    }
    qsizetype count() const { return m_texts.size(); }

private:
    QWebSocket m_socket;
    bool m_connected = false;
    bool m_closed = false;
    int m_closeCode = -1;
    QString m_closeReason;
    QStringList m_texts;
};

} // namespace webapi
