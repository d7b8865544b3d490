#include "tests/support/Process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

qint64 procStatusKb(qint64 pid, const QByteArray& field)
{
    const QByteArray key = field + ':';
    for (const QByteArray& line : readFile(pid == 0 ? QStringLiteral("/proc/self/status")
                                                    : QStringLiteral("/proc/%1/status").arg(pid))
                                      .split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

bool catches(qint64 pid, int signal)
{
    for (const QByteArray& line :
         readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}

bool holdsFile(qint64 pid, const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    }
    return false;
}

bool startWithIni(QProcess& process, const QString& program, const QString& folder,
                  const QByteArray& ini)
{
    const QString copy = QDir(folder).filePath(QFileInfo(program).fileName());
    const QString libraries = QFileInfo(program).absolutePath() + QStringLiteral("/lib");
    const QString linked = QDir(folder).filePath(QStringLiteral("lib"));
    if (!QFileInfo::exists(copy) &&
        (!QFile::copy(program, copy) ||
         (QFileInfo::exists(libraries) && !QFile::link(libraries, linked))))
        return false;
    writeFile(QDir(folder).filePath(QStringLiteral("quendra.ini")), ini);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(copy, {});
    return process.waitForStarted(30000);
}
