#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

// A terminal server played by a thread of the test, on 127.0.0.1 with a free
// port, for the answers and the bad days a real ser2net never has. It agrees
// to whatever an rfc2217:// line asks, except as its script says, a few
// words separated by blanks:
//   plain            plain TCP, as socket:// (else Telnet with RFC 2217)
//   rate N           answers every rate with N
//   refuse-binary    DONT BINARY to the open;  refuse-com-port: DONT COM-PORT
//   flow N           answers SET-CONTROL with N
//   sb-iac-se        says IAC SB IAC SE before its first answer
//   stale            answers the rate twice, then no question after the open
//   late MS          answers each question after the open MS ms late
//   slow-open MS     answers the settings of the open MS ms late
//   hang-up          hangs up once the settings are agreed (plain: at once)
//   reset            plain only: resets each connection at once, leaving the
//                    port free for another server straight after
//   stop-reading     reads nothing more once they are
//   dont-binary      says DONT BINARY when the first frame byte arrives
//   flood            sends data without pause from connecting on
//   farewell         says a line holding markup and control bytes, hangs up
// One client at a time; the next is taken once it has gone.
class ScriptedServer
{
public:
    explicit ScriptedServer(QString script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    quint16 port() const { return m_port; }
    // "rfc2217://127.0.0.1:PORT", or "socket://..." for a plain one.
    QString portName() const
    {
        return QStringLiteral("%1://127.0.0.1:%2")
            .arg(m_script.split(' ').contains(QLatin1String("plain")) ? "socket" : "rfc2217")
            .arg(m_port);
    }
    // The frame bytes that reached it, Telnet taken off.
    QByteArray received();
    // How many connections it has taken so far.
    int clients() const { return m_clients; }

private:
    void serve();
    void serveClient(int client);

    QString m_script;
    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_clients{0};
    std::mutex m_mutex;
    QByteArray m_received;
    std::thread m_thread;
};
