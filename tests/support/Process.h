#pragma once

#include <QByteArray>
#include <QProcess>

// A field of /proc/PID/status in kB ("VmRSS", "VmHWM"), pid 0 for this
// process; -1 when it cannot be read.
qint64 procStatusKb(qint64 pid, const QByteArray& field);

// Ends a child the tests started: asked first, killed when it does not go
// within ms; never waits longer than twice that.
void stopChild(QProcess& process, int ms);
