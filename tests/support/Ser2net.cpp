#include "tests/support/Ser2net.h"

#include "tests/support/Process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

static constexpr int StartTimeoutMs = 5000;

quint16 Ser2net::freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString Ser2net::portName() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_form == Form::Rfc2217 ? "rfc2217" : "socket")
        .arg(m_port);
}

bool Ser2net::start(QString* why)
{
    if (m_port == 0)
        m_port = freePort();
    // "local": no modem lines to wait for on a pseudo-terminal.
    const QByteArray config = QStringLiteral("connection: &quendra\n"
                                             "  accepter: %1,127.0.0.1,%2\n"
                                             "  connector: serialdev,%3,2400n81,local\n")
                                  .arg(m_form == Form::Rfc2217 ? "telnet(rfc2217),tcp" : "tcp")
                                  .arg(m_port)
                                  .arg(m_device)
                                  .toUtf8();
    QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        *why = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    file.close();
    // -n: stay in the foreground as the test's child; -u: no UUCP lock files.
    m_process.start("ser2net", {"-n", "-u", "-c", file.fileName()});
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        *why = QStringLiteral("ser2net did not start: %1").arg(m_process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!acceptsConnections(m_port)) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            *why = QStringLiteral("ser2net is not listening on %1: %2")
                       .arg(m_port)
                       .arg(QString::fromLocal8Bit(output()));
            stop();
            return false;
        }
        m_process.waitForReadyRead(20); // a bounded pause that also collects its output
    }
    return true;
}

void Ser2net::stop()
{
    stopChild(m_process, 3000);
    output();
}

bool acceptsConnections(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    if (!probe.waitForConnected(500))
        return false;
    ::shutdown(int(probe.socketDescriptor()), SHUT_WR);
    const QDeadlineTimer deadline(2000);
    while (probe.state() == QAbstractSocket::ConnectedState &&
           probe.waitForReadyRead(int(deadline.remainingTime())))
        probe.readAll();
    probe.abort();
    return true;
}
