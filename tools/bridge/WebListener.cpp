#include "tools/bridge/WebListener.h"

#include <QTcpSocket>

#include <cstdio>
#include <memory>

namespace bridge {

void WebListener::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    const QString peer =
        QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
    if (m_open >= MaxConnections) {
        std::fprintf(stderr, "quendra-bridge: connection from %s refused: %d are open\n",
                     qPrintable(peer), MaxConnections);
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    // Reading stops once the buffer is full; a request that fills it is no
    // page's. What is available here is what came since the server last
    // read, so the sum is what this request sent until it is answered. The
    // WebSocket server takes these signals off once upgraded.
    socket->setReadBufferSize(MaxRequestBytes);
    auto sent = std::make_shared<qint64>(0);
    connect(socket, &QTcpSocket::bytesWritten, socket, [sent] { *sent = 0; });
    connect(socket, &QTcpSocket::readyRead, socket, [socket, peer, sent] {
        *sent += socket->bytesAvailable();
        if (*sent < MaxRequestBytes)
            return;
        std::fprintf(stderr, "quendra-bridge: connection from %s closed: a request over %lld KiB\n",
                     qPrintable(peer), static_cast<long long>(MaxRequestBytes / 1024));
        socket->abort();
    });
    addPendingConnection(socket);
}

} // namespace bridge
