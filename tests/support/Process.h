#pragma once

#include <QByteArray>
#include <QProcess>

#include <functional>

// A field of /proc/PID/status in kB ("VmRSS", "VmHWM"), pid 0 for this
// process; -1 when it cannot be read.
qint64 procStatusKb(qint64 pid, const QByteArray& field);

// Writes bytes to path, replacing what it held, and returns path; a file
// that cannot be written ends the test run.
QString writeFile(const QString& path, const QByteArray& bytes);
// What path holds; null when it cannot be read.
QByteArray readFile(const QString& path);

// Polls done every 10 ms until it holds; false when timeoutMs pass first.
bool pollUntil(int timeoutMs, const std::function<bool()>& done);

// Ends a child the tests started: asked first, killed when it does not go
// within ms; never waits longer than twice that.
void stopChild(QProcess& process, int ms);

// What a child run to its end left: its exit status (-1 when it did not
// start, crashed or outlived the bound) and its two outputs.
struct Finished
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};
Finished runToEnd(const QString& program, const QStringList& args, int boundMs,
                  const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                  const QByteArray& input = QByteArray());

// Whether the process has its handler for the signal installed.
bool catches(qint64 pid, int signal);

// Whether the process has the file open, whatever path it took.
bool holdsFile(qint64 pid, const QString& path);

// Starts a copy of program in folder, with its libraries beside it and the
// quendra.ini given, which the copy reads; offscreen, for the panel. False
// when it did not start.
bool startWithIni(QProcess& process, const QString& program, const QString& folder,
                  const QByteArray& ini);
