#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QWebSocket;

namespace bridge {

class WebServer;

// One page's WebSocket. It hears nothing until its hello is taken, and is
// dropped when more waits for it than it reads.
class WebClient : public QObject
{
    Q_OBJECT

public:
    // authorized: the handshake itself carried the token.
    WebClient(std::unique_ptr<QWebSocket> socket, bool authorized, WebServer& server);
    ~WebClient() override;

    // "127.0.0.1:50312", for messages.
    const QString& peer() const { return m_peer; }
    bool authorized() const { return m_authorized; }
    bool ready() const { return m_ready; }
    void setReady();

    void send(const QString& message);
    // Ends the connection with a close code and its reason.
    void close(int code, const QString& reason);

private:
    void drop(const QString& why);

    std::unique_ptr<QWebSocket> m_socket;
    QString m_peer;
    bool m_authorized;
    bool m_ready = false;
    bool m_closing = false;
    QTimer m_hello;
};

} // namespace bridge
