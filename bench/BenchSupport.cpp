#include "bench/BenchSupport.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <unistd.h>

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

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(p * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

FarEnd::FarEnd(int fd, bool keepBytes)
    : m_fd(fd), m_keepBytes(keepBytes), m_thread([this] { run(); })
{
}

FarEnd::~FarEnd()
{
    m_stop = true;
    m_thread.join();
}

QByteArray FarEnd::take(qsizetype count, qint64* lastAt)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::seconds(1),
                       [this, count] { return m_bytes.size() >= count; });
    QByteArray got = m_bytes.left(count);
    m_bytes.remove(0, got.size());
    *lastAt = m_lastAt;
    return got;
}

QByteArray FarEnd::takeIdle(int idleMs)
{
    qsizetype seen = -1;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_bytes.size() != seen) {
        seen = m_bytes.size();
        m_arrived.wait_for(lock, std::chrono::milliseconds(idleMs),
                           [this, seen] { return m_bytes.size() != seen; });
    }
    QByteArray got = m_bytes;
    m_bytes.clear();
    return got;
}

qint64 FarEnd::count()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

qint64 FarEnd::waitForCount(qint64 total, qint64 deadlineNs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto left = std::chrono::nanoseconds(std::max<qint64>(0, deadlineNs - nowNs()));
    if (!m_arrived.wait_for(lock, left, [this, total] { return m_count >= total; }))
        return 0;
    return m_lastAt;
}

void FarEnd::run()
{
    char buffer[4096];
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        const qint64 at = nowNs();
        if (n <= 0)
            continue;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_keepBytes)
                m_bytes.append(buffer, n);
            m_count += n;
            m_lastAt = at;
        }
        m_arrived.notify_all();
    }
}

} // namespace bench
