#pragma once

#include "tools/bridge/Bridge.h"
#include "tools/bridge/WebMirror.h"

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QHttpServerResponse>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QWebSocket;

namespace bridge {

class WebClient;

// The operator's page, served by the bridge itself: the page's files
// (compiled in), and at BASE/api a WebSocket that mirrors the broker's
// topics. Orders from the page take the bridge's one order path. Lives on
// the main thread; the bridge's signals reach it queued.
class WebServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    // At most this many pages at once; more are refused with a reason.
    static constexpr int MaxClients = 16;
    // The longest message a page may send: every order is far shorter.
    static constexpr int MaxMessageBytes = 4096;
    // What may wait for one page that does not read before it is dropped,
    // so that it never holds up the lines or the broker.
    static constexpr qint64 MaxQueuedBytes = 1 << 20;
    // How long a page has for its hello.
    static constexpr int HelloMs = 10000;
    // How long a closed page has to answer the close.
    static constexpr int CloseMs = 5000;

    // Close codes, beside the WebSocket's own (1009: a message too big).
    enum Close
    {
        BadHello = 4400,
        WrongToken = 4401,
        NoHello = 4408,
        TooManyClients = 4429
    };

    WebServer(Bridge& bridge, WebConfig web);
    ~WebServer() override;

    // Reads the token and listens; says where the page is on standard error.
    Checked<void> start();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    friend class WebClient;

    void accept();
    void broadcast(const QList<QString>& messages);
    void hello(WebClient* client, const PageMessage& message);
    void fromPage(WebClient* client, const QString& text);
    void pageError(WebClient* client, const QString& topic, const QByteArray& payload,
                   const QString& reason);
    void gone(WebClient* client);
    bool authorized(const QByteArray& header) const;
    std::optional<QHttpServerResponse> refusedUpgrade(const QHttpServerRequest& request) const;
    void respond(QHttpServerResponse& response, const QHttpServerRequest& request,
                 QTcpSocket* socket);

    Bridge& m_bridge;
    WebConfig m_web;
    QByteArray m_token; // empty: none asked for
    WebMirror m_mirror;
    QHash<QString, QPair<QByteArray, QByteArray>> m_files; // path -> type, content
    QList<WebClient*> m_clients;
};

} // namespace bridge
