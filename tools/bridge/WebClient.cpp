#include "tools/bridge/WebClient.h"

#include "tools/bridge/WebServer.h"

#include <QWebSocket>

#include <cstdio>

namespace bridge {

WebClient::WebClient(std::unique_ptr<QWebSocket> socket, bool authorized, WebServer& server)
    : m_socket(std::move(socket)), m_authorized(authorized)
{
    m_peer =
        QStringLiteral("%1:%2").arg(m_socket->peerAddress().toString()).arg(m_socket->peerPort());
    m_socket->setMaxAllowedIncomingMessageSize(WebServer::MaxMessageBytes);
    m_socket->setMaxAllowedIncomingFrameSize(WebServer::MaxMessageBytes);
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this,
            [this, &server](const QString& text) {
                if (!m_closing)
                    server.fromPage(this, text);
            });
    connect(m_socket.get(), &QWebSocket::binaryMessageReceived, this, [this] {
        close(QWebSocketProtocol::CloseCodeDatatypeNotSupported,
              QStringLiteral("messages are JSON text"));
    });
    connect(m_socket.get(), &QWebSocket::disconnected, this,
            [this, &server] { server.gone(this); });
    m_hello.setSingleShot(true);
    connect(&m_hello, &QTimer::timeout, this, [this] {
        close(WebServer::NoHello,
              QStringLiteral("no bridge/hello within %1 s").arg(WebServer::HelloMs / 1000));
    });
    m_hello.start(WebServer::HelloMs);
}

WebClient::~WebClient()
{
    if (m_socket)
        m_socket->disconnect(this);
}

void WebClient::setReady()
{
    m_ready = true;
    m_hello.stop();
}

void WebClient::send(const QString& message)
{
    if (m_closing)
        return;
    if (m_socket->bytesToWrite() > WebServer::MaxQueuedBytes) {
        drop(QStringLiteral("more than %1 KiB wait that it does not read")
                 .arg(WebServer::MaxQueuedBytes / 1024));
        return;
    }
    m_socket->sendTextMessage(message);
}

void WebClient::close(int code, const QString& reason)
{
    if (m_closing)
        return;
    m_closing = true;
    m_hello.stop();
    std::fprintf(stderr, "quendra-bridge: page %s closed (%d): %s\n", qPrintable(m_peer), code,
                 qPrintable(reason));
    m_socket->close(QWebSocketProtocol::CloseCode(code), reason);
    // A page that never answers the close is let go of all the same.
    QTimer::singleShot(WebServer::CloseMs, this, [this] { m_socket->abort(); });
}

void WebClient::drop(const QString& why)
{
    m_closing = true;
    std::fprintf(stderr, "quendra-bridge: page %s dropped: %s\n", qPrintable(m_peer),
                 qPrintable(why));
    // A close frame would wait behind what it does not read.
    m_socket->abort();
}

} // namespace bridge
