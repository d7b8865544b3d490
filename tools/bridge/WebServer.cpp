#include "tools/bridge/WebServer.h"

#include "protocol/printable.h"
#include "tools/bridge/WebClient.h"
#include "tools/bridge/WebListener.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkRequest>
#include <QUrl>
#include <QWebSocket>

#include <cstdio>

namespace bridge {

namespace {

using Status = QHttpServerResponder::StatusCode;

// Nothing but the page's own files, scripts and WebSocket; no frame may
// hold it, so no other site can dress it up.
constexpr char Policy[] = "default-src 'none'; script-src 'self'; style-src 'self'; "
                          "img-src 'self'; connect-src 'self'; base-uri 'none'; "
                          "form-action 'none'; frame-ancestors 'none'";

QHttpServerResponse plain(const QByteArray& text, Status status)
{
    return {QByteArrayLiteral("text/plain; charset=utf-8"), text + '\n', status};
}

bool isUpgrade(const QHttpServerRequest& request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

} // namespace

WebServer::WebServer(Bridge& bridge, WebConfig web)
    : m_bridge(bridge), m_web(std::move(web)), m_mirror(bridge.config())
{
    const struct
    {
        const char* name;
        const char* type;
    } files[] = {{"index.html", "text/html; charset=utf-8"},
                 {"app.js", "text/javascript; charset=utf-8"},
                 {"cards.js", "text/javascript; charset=utf-8"},
                 {"style.css", "text/css; charset=utf-8"},
                 {"icon.svg", "image/svg+xml"}};
    for (const auto& file : files) {
        QFile resource(QStringLiteral(":/web/") + QLatin1String(file.name));
        if (!resource.open(QIODevice::ReadOnly))
            qFatal("quendra-bridge: the page's %s is not compiled in", file.name);
        const QString name = QLatin1String(file.name) == QLatin1String("index.html")
                                 ? QString()
                                 : QLatin1String(file.name);
        m_files.insert(m_web.base + name, {QByteArray(file.type), resource.readAll()});
    }
    connect(&bridge, &Bridge::published, this,
            [this](const QString& line, const QString& topic, const QByteArray& payload) {
                broadcast(m_mirror.published(line, topic, payload));
            });
    connect(&bridge, &Bridge::frameSent, this,
            [this](const QString& line, const QByteArray& frame) {
                broadcast(m_mirror.frameSent(line, frame));
            });
    connect(&bridge, &Bridge::brokerChanged, this, [this](bool connected, const QString& why) {
        broadcast(m_mirror.brokerChanged(connected, why));
    });
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::accept);
    // A refused handshake is told by missingHandler(), in the bridge's words.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));
}

WebServer::~WebServer()
{
    for (WebClient* client : std::as_const(m_clients))
        delete client;
}

Checked<void> WebServer::start()
{
    if (!m_web.tokenFile.isEmpty()) {
        const Checked<QByteArray> token = readToken(m_web.tokenFile);
        if (!token)
            return Refusal{token.message()};
        m_token = *token;
    }
    auto* server = new WebListener(this);
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_web.address.toString());
    if (!server->listen(m_web.address, m_web.port)) {
        url.setPort(m_web.port);
        const QString why = server->errorString();
        delete server;
        return Refusal{QStringLiteral("--web %1: %2").arg(url.authority(), why)};
    }
    bind(server);
    url.setPort(server->serverPort());
    url.setPath(m_web.base);
    std::fprintf(stderr, "quendra-bridge: the page is at %s\n", qPrintable(url.toString()));
    if (m_token.isEmpty() && !m_web.address.isLoopback())
        std::fprintf(stderr,
                     "quendra-bridge: the page takes orders from anyone who reaches %s; "
                     "give --web-token-file FILE to ask for a token\n",
                     qPrintable(url.authority()));
    return {};
}

bool WebServer::authorized(const QByteArray& header) const
{
    return m_token.isEmpty() || authorizes(header, m_token);
}

std::optional<QHttpServerResponse>
WebServer::refusedUpgrade(const QHttpServerRequest& request) const
{
    // The token may come in the first message; where the page is and whose
    // it is are settled before the handshake is answered.
    if (request.url().path() != m_web.base + QLatin1String("api"))
        return plain("not found", Status::NotFound);
    if (!sameOrigin(request.value("origin"), request.value("host")))
        return plain("only the page's own origin may connect", Status::Forbidden);
    return std::nullopt;
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // Taken on by the WebSocket server when true, else refused by
    // missingHandler().
    if (isUpgrade(request))
        return !refusedUpgrade(request);
    const QString path = request.url().path();
    QHttpServerResponse response(Status::NotFound);
    if (!authorized(request.value("authorization"))) {
        // Nothing but the refusal: not a word of the page.
        response = QHttpServerResponse(QByteArrayLiteral("text/plain; charset=utf-8"), QByteArray(),
                                       Status::Unauthorized);
        response.setHeader("WWW-Authenticate", R"(Basic realm="quendra-bridge", charset="UTF-8")");
    } else if (request.method() != QHttpServerRequest::Method::Get) {
        response = plain("only GET", Status::MethodNotAllowed);
        response.setHeader("Allow", "GET");
    } else if (const auto file = m_files.constFind(path); file != m_files.cend()) {
        response = QHttpServerResponse(file->first, file->second);
    } else if (path + QLatin1Char('/') == m_web.base) {
        response = QHttpServerResponse(Status::PermanentRedirect);
        response.setHeader("Location", m_web.base.toUtf8());
    } else if (path == m_web.base + QLatin1String("api")) {
        response = plain("the API is a WebSocket", Status::UpgradeRequired);
        response.setHeader("Upgrade", "websocket");
    } else {
        response = plain("not found", Status::NotFound);
    }
    respond(response, request, socket);
    return true;
}

void WebServer::respond(QHttpServerResponse& response, const QHttpServerRequest& request,
                        QTcpSocket* socket)
{
    response.setHeader("Content-Security-Policy", Policy);
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("X-Frame-Options", "DENY");
    response.setHeader("Referrer-Policy", "no-referrer");
    response.setHeader("Cache-Control", "no-store");
    response.write(makeResponder(request, socket));
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    std::optional<QHttpServerResponse> refused = refusedUpgrade(request);
    if (refused)
        std::fprintf(stderr, "quendra-bridge: WebSocket from %s refused: %s\n",
                     qPrintable(request.remoteAddress().toString()),
                     refused->data().trimmed().constData());
    QHttpServerResponse response =
        refused ? std::move(*refused) : plain("not found", Status::NotFound);
    respond(response, request, socket);
}

void WebServer::accept()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            return;
        const QByteArray authorization = socket->request().rawHeader("Authorization");
        auto* client = new WebClient(
            std::move(socket), !m_token.isEmpty() && authorizes(authorization, m_token), *this);
        m_clients << client;
        // Closed with a reason the page can show, rather than refused unseen.
        if (m_clients.size() > MaxClients)
            client->close(
                TooManyClients,
                QStringLiteral("%1 pages are open, the most there may be").arg(MaxClients));
    }
}

void WebServer::gone(WebClient* client)
{
    if (m_clients.removeOne(client))
        client->deleteLater();
}

void WebServer::broadcast(const QList<QString>& messages)
{
    // A copy: a page dropped on the way leaves the list.
    const QList<WebClient*> clients = m_clients;
    for (WebClient* client : clients) {
        if (!client->ready())
            continue;
        for (const QString& message : messages)
            client->send(message);
    }
}

void WebServer::hello(WebClient* client, const PageMessage& message)
{
    if (message.topic != QLatin1String("bridge/hello")) {
        client->close(m_token.isEmpty() ? BadHello : WrongToken,
                      QStringLiteral("the first message is bridge/hello"));
        return;
    }
    if (!m_token.isEmpty()) {
        const QByteArray token =
            message.json.toObject().value(QLatin1String("token")).toString().toUtf8();
        if (token.isEmpty() ? !client->authorized() : !sameToken(token, m_token)) {
            client->close(WrongToken, QStringLiteral("wrong or missing token"));
            return;
        }
    }
    client->setReady();
    for (const QString& m : m_mirror.snapshot())
        client->send(m);
}

void WebServer::pageError(WebClient* client, const QString& topic, const QByteArray& payload,
                          const QString& reason)
{
    // The shape of a line's error topic, for what reaches no line.
    client->send(webMessage(QStringLiteral("bridge/error"),
                            QJsonObject{{"topic", protocol::printable(topic, 80)},
                                        {"payload", QString::fromUtf8(payload.left(64))},
                                        {"reason", protocol::printable(reason)}}));
}

void WebServer::fromPage(WebClient* client, const QString& text)
{
    const Checked<PageMessage> message = readPageMessage(text);
    if (!client->ready()) {
        if (!message)
            client->close(m_token.isEmpty() ? BadHello : WrongToken, message.message());
        else
            hello(client, *message);
        return;
    }
    if (!message) {
        pageError(client, QString(), text.toUtf8(), message.message());
        return;
    }
    if (message->topic == QLatin1String("bridge/hello"))
        return;
    QStringList levels = message->topic.split(QLatin1Char('/'));
    const QString line = levels.takeFirst();
    const bool known = std::any_of(m_bridge.config().lines.cbegin(), m_bridge.config().lines.cend(),
                                   [&](const NamedLine& l) { return l.name == line; });
    if (!known || levels.isEmpty()) {
        pageError(client, message->topic, message->payload,
                  known ? QStringLiteral("not a command topic: LINE/UID/COMMAND/set")
                        : QStringLiteral("no line named \"%1\"")
                              .arg(protocol::printable(line, protocol::QuotedChars)));
        return;
    }
    // Refused or not, the line's error topic tells every page and the broker.
    m_bridge.order(line, levels, message->payload);
}

} // namespace bridge
