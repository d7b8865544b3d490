#include "tests/support/Process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

qint64 procStatusKb(qint64 pid, const QByteArray& field)
{
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status")
                          : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = field + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

bool pollUntil(int timeoutMs, const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

void stopChild(QProcess& process, int ms)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(ms)) {
        process.kill();
        process.waitForFinished(ms);
    }
}

Finished runToEnd(const QString& program, const QStringList& args, int boundMs,
                  const QProcessEnvironment& env, const QByteArray& input)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(boundMs);
    if (!finished)
        stopChild(p, 5000);
    const bool ok = finished && p.exitStatus() == QProcess::NormalExit;
    return {ok ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
}
