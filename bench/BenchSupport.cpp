#include "bench/BenchSupport.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace bench {

namespace {

const char* programName = "quendra-bench";

} // namespace

qint64 nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void setProgramName(const char* name)
{
    programName = name;
}

void fatal(const QString& why)
{
    std::fprintf(stderr, "%s: %s\n", programName, qPrintable(why));
    std::exit(1);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll().split(' ').value(0));
}

const char* verdict(bool met)
{
    return met ? "met" : "MISSED";
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace bench
