#include "tests/support/Ser2net.h"

#include "tests/support/Process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <utility>

#include <sys/socket.h>

namespace {

constexpr int StartTimeoutMs = 5000;

} // namespace

Ser2net::Ser2net(QString device, Form form) : m_device(std::move(device)), m_form(form)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

Ser2net::~Ser2net()
{
    stop();
}

bool Ser2net::installed()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ser2net")).isEmpty();
}

quint16 Ser2net::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString Ser2net::portName() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_form == Form::Rfc2217 ? "rfc2217" : "socket")
        .arg(m_port);
}

QByteArray Ser2net::output()
{
    m_output += m_process.readAll();
    return m_output;
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
    m_process.start(QStringLiteral("ser2net"), {QStringLiteral("-n"), QStringLiteral("-u"),
                                                QStringLiteral("-c"), file.fileName()});
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
