#pragma once

#include <QtTest>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
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
        m_thread = std::thread([ended = m_ended.get_future(), limitMs, row] {
            if (ended.wait_for(std::chrono::milliseconds(limitMs)) == std::future_status::timeout) {
                std::fprintf(stderr, "FAIL! %s: still running after %d ms\n", row.constData(),
                             limitMs);
                std::fflush(stderr);
                std::abort();
            }
        });
    }
    ~Watchdog()
    {
        m_ended.set_value();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::promise<void> m_ended;
    std::thread m_thread;
};
