#include "common/StopSignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <csignal>

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace stop {

namespace {

// Written by the handler, read anywhere: the first signal wins.
std::atomic<int> firstSignal{0};
std::atomic<bool> installed{false};

void record(int signal)
{
    int none = 0;
    firstSignal.compare_exchange_strong(none, signal);
}

#ifdef Q_OS_WIN

// Ctrl-Break has no POSIX number; it is told apart by the name only.
constexpr int CtrlBreak = 21;
HANDLE stopEvent = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        record(SIGINT);
        break;
    case CTRL_BREAK_EVENT:
        record(CtrlBreak);
        break;
    default:
        // The console is closing, or the session ending: the system ends
        // the process once this returns, so the stop is given its time here.
        record(SIGTERM);
        SetEvent(stopEvent);
        Sleep(4000);
        return TRUE;
    }
    SetEvent(stopEvent);
    return TRUE;
}

#else

// The handler's end of a pipe whose other end the event loop watches.
int wakeFds[2] = {-1, -1};

void onSignal(int signal)
{
    const int saved = errno;
    record(signal);
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

#endif

} // namespace

StopSignals& StopSignals::instance()
{
    static auto* const one = new StopSignals;
    return *one;
}

void install()
{
    if (installed.exchange(true))
        return;
    StopSignals& target = StopSignals::instance();
    // Handed out once: the first signal is the one the program ends by.
    const auto announce = [&target] {
        static bool told = false;
        if (!told && received() != 0) {
            told = true;
            emit target.stopRequested(received());
        }
    };
#ifdef Q_OS_WIN
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto* notifier = new QWinEventNotifier(stopEvent, &target);
    // The event stays set, for pause(); the notifier is done after once.
    QObject::connect(notifier, &QWinEventNotifier::activated, &target, [notifier, announce] {
        notifier->setEnabled(false);
        announce();
    });
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (::pipe(wakeFds) != 0)
        return;
    for (const int fd : wakeFds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, &target);
    QObject::connect(notifier, &QSocketNotifier::activated, &target, [announce] {
        char bytes[16];
        while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
        }
        announce();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // A write or a drain under way goes on after the handler: the frame being
    // written is finished, never cut.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
#endif
}

int received()
{
    return firstSignal.load();
}

int exitStatus(int status)
{
    return received() != 0 ? 128 + received() : status;
}

QString signalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
#ifdef Q_OS_WIN
    case CtrlBreak:
        return QStringLiteral("Ctrl-Break");
#else
    case SIGHUP:
        return QStringLiteral("SIGHUP");
#endif
    }
    return QStringLiteral("signal %1").arg(signal);
}

bool pause(int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (requested())
            return false;
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            return true;
#ifdef Q_OS_WIN
        // Without install() there is no event: the wait is a plain sleep.
        if (stopEvent)
            WaitForSingleObject(stopEvent, DWORD(left));
        else
            QThread::msleep(ulong(left));
#else
        // The byte a signal writes wakes the wait; it is left for the event
        // loop to read.
        pollfd wake = {wakeFds[0], POLLIN, 0};
        if (wakeFds[0] >= 0)
            ::poll(&wake, 1, int(left));
        else
            QThread::msleep(ulong(left));
#endif
    }
}

} // namespace stop
