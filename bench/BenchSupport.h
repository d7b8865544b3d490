#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// What every bench program needs around its own measurements.
namespace bench {

// The monotonic clock in nanoseconds, the one the panel's hook stamps with.
qint64 nowNs();

// Ends the program with a message naming it (program is set once in main).
void setProgramName(const char* name);
[[noreturn]] void fatal(const QString& why);

// The machine's load average over the last minute: the figures share the
// processors with whatever else runs.
QString loadAverage();

// "met" or "MISSED", as the targets are printed.
const char* verdict(bool met);

double median(std::vector<double> values);
// The nearest-rank percentile, p from 0 to 1 (1: the worst); 0 for none.
double percentile(std::vector<double> values, double p);

// The module's end of a line: a thread of its own reads fd (a pty's master)
// and stamps when each byte became readable, so the time a frame reached the
// line does not wait for the sender to return. Bytes are kept for take()
// only when keepBytes is set; count() sees them all either way.
class FarEnd
{
public:
    explicit FarEnd(int fd, bool keepBytes = true);
    ~FarEnd();
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    // Exactly count bytes, and when the last of them arrived; fewer when
    // nothing more comes within a second.
    QByteArray take(qsizetype count, qint64* lastAt);
    // Whatever arrives until the line has been quiet for idleMs.
    QByteArray takeIdle(int idleMs);

    // Every byte read so far.
    qint64 count();
    // When the count reached total; 0 when it has not by deadlineNs.
    qint64 waitForCount(qint64 total, qint64 deadlineNs);

private:
    void run();

    int m_fd;
    bool m_keepBytes;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    QByteArray m_bytes;
    qint64 m_count = 0;
    qint64 m_lastAt = 0;
    std::thread m_thread;
};

} // namespace bench
