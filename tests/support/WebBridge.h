#pragma once

#include "tests/support/Process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

// quendra-bridge (QUENDRA_BRIDGE_PATH), the caller's child, with standard
// output and error kept together.
class BridgeProcess : public QProcess
{
public:
    explicit BridgeProcess(const QStringList& args)
    {
        setProcessChannelMode(QProcess::MergedChannels);
        // Gone with its parent, also when a watchdog ends the parent at once.
        setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        start(QStringLiteral(QUENDRA_BRIDGE_PATH), args);
    }
    ~BridgeProcess() override { stop(); }

    bool hasStarted() { return waitForStarted(15000); }
    void stop() { stopChild(*this, 15000); }
    // Everything it said so far.
    QByteArray output()
    {
        waitForReadyRead(10);
        return m_output += readAll();
    }
    // Whether it says text within timeoutMs, at or after byte from of its
    // output; the caller's own sockets are served meanwhile.
    bool says(const QByteArray& text, int timeoutMs = 15000, qsizetype from = 0)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (output().indexOf(text, from) < 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return m_output.indexOf(text, from) >= 0;
    }

private:
    QByteArray m_output;
};

// With its page on a port the system picks (--web 127.0.0.1:0); url() is
// where it says the page is.
class WebBridge : public BridgeProcess
{
public:
    explicit WebBridge(const QStringList& args)
        : BridgeProcess(QStringList{"--web", "127.0.0.1:0"} + args)
    {
    }

    // Waits until the page is served; false, with the output in why, when
    // the bridge ends or says nothing of the kind within timeoutMs.
    bool serving(int timeoutMs, QString* why)
    {
        static const QRegularExpression page(QStringLiteral("the page is at (http://\\S+)"));
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && state() != QProcess::NotRunning) {
            const QRegularExpressionMatch match = page.match(QString::fromUtf8(output()));
            if (match.hasMatch()) {
                m_url = match.captured(1);
                return true;
            }
        }
        *why = QStringLiteral("the bridge serves no page: ") + QString::fromUtf8(output());
        return false;
    }
    // "http://127.0.0.1:40123/displays/"
    const QString& url() const { return m_url; }
    // "127.0.0.1:40123"
    QString authority() const { return m_url.section(QLatin1Char('/'), 2, 2); }

private:
    QString m_url;
};
