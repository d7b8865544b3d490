#pragma once

#include <QTcpServer>

namespace bridge {

// Where the page's connections come in. Qt's HTTP server keeps all of a
// request, body included, before it is looked at; a page only ever asks
// with a few hundred bytes, so each connection may hold at most
// MaxRequestBytes unread and is closed past that, and at most MaxConnections
// are open at once (pages, their WebSockets and whatever else knocks).
class WebListener : public QTcpServer
{
    Q_OBJECT

public:
    static constexpr qint64 MaxRequestBytes = qint64(64) * 1024;
    static constexpr int MaxConnections = 64;

    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    int m_open = 0;
};

} // namespace bridge
