#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <utility>

// A real ser2net in front of a device (a test's pseudo-terminal), listening
// on 127.0.0.1 only, run in the foreground as the test's child.
class Ser2net
{
public:
    enum class Form
    {
        Rfc2217,
        Socket
    };

    // The device starts at 2400 baud whenever a client connects; an
    // rfc2217:// client then sets its own.
    Ser2net(QString device, Form form) : m_device(std::move(device)), m_form(form)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
    }
    ~Ser2net() { stop(); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    static bool installed() { return !QStandardPaths::findExecutable("ser2net").isEmpty(); }
    // A TCP port on 127.0.0.1 nobody listened on a moment ago.
    static quint16 freePort();

    // Starts the server on port() (a free one the first time) and waits, with
    // a deadline, until it takes connections. False, with why, otherwise.
    bool start(QString* why);
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    quint16 port() const { return m_port; }
    // "rfc2217://127.0.0.1:PORT" or "socket://127.0.0.1:PORT".
    QString portName() const;

private:
    QByteArray output() { return m_output += m_process.readAll(); } // all the server printed

    QString m_device;
    Form m_form;
    quint16 m_port = 0;
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
};

// Whether 127.0.0.1:port takes a connection now. The probe connection is
// closed the way a client should: it waits until the server hangs up, so the
// server has let go of its device before this returns.
bool acceptsConnections(quint16 port);
