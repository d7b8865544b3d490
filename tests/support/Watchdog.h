#pragma once

#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

// The longest a test row may take: past it the whole run stops with the
// row's name, so that a wait that never ends fails at once instead of at
// the test runner's timeout.
class Watchdog
{
public:
    explicit Watchdog(int limitMs)
    {
        const QByteArray row =
            QByteArray(QTest::currentTestFunction()) + " " + QTest::currentDataTag();
        m_thread = std::thread([this, limitMs, row] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_ended.wait_for(lock, std::chrono::milliseconds(limitMs),
                                  [this] { return m_done; })) {
                std::fprintf(stderr, "FAIL! %s: still running after %d ms\n", row.constData(),
                             limitMs);
                std::fflush(stderr);
                std::abort();
            }
        });
    }
    ~Watchdog()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_ended.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    std::thread m_thread;
};
