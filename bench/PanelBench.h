#pragma once

#include "bench/BenchSupport.h"
#include "serial/PseudoTerminal.h"

#include <QByteArray>
#include <QString>

#include <vector>

// What quendra-bench's start-up and click-to-line figures share: the pty the
// panel's COM1 leads to and the quendra.ini that says so, a process's
// memory, and the median, p99 and worst of a series.
namespace bench {

// A pseudo-terminal in raw mode; the panel opens path, the bench reads master.
struct Pty : PseudoTerminal
{
    Pty()
    {
        if (!isValid())
            fatal(errorString());
    }
};

// COM1 on the pty at 38400 baud, UID 5.
QByteArray settingsFor(const Pty& pty);
void writeFile(const QString& path, const QByteArray& content);

struct Memory
{
    double rssMb = 0;
    double hwmMb = 0;
};

// VmRSS and VmHWM from a /proc/PID/status file; 0 where it cannot be read.
Memory memoryOf(const QString& statusPath);

struct Stats
{
    double median = 0;
    double p99 = 0;
    double worst = 0;
};

// Nearest-rank percentiles. The values are sorted in place: the click
// figures' samples are made before the window exists and are not copied.
Stats statsOf(std::vector<double>& values);

} // namespace bench
