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

// quendra-bridge with its page, the caller's child: it listens on a port the
// system picks (--web 127.0.0.1:0) and says where; url() is what it said.
class WebBridge : public QProcess
{
public:
    WebBridge(const QString& program, const QStringList& args)
    {
        setProcessChannelMode(QProcess::MergedChannels);
        // Gone with its parent, also when a watchdog ends the parent at once.
        setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        start(program, QStringList{"--web", "127.0.0.1:0"} + args);
    }
    ~WebBridge() override { stopChild(*this, 10000); }

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

    // Everything it said so far.
    QByteArray output()
    {
        waitForReadyRead(10);
        return m_output += readAll();
    }
    // Whether it says text within timeoutMs; the caller's own sockets are
    // served meanwhile.
    bool says(const QByteArray& text, int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!output().contains(text) && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return m_output.contains(text);
    }

private:
    QString m_url;
    QByteArray m_output;
};
