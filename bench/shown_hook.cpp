// Preloaded into the panel by quendra-bench. Writes "<event> <ns>" lines, in
// CLOCK_MONOTONIC nanoseconds, to descriptor 3, which the bench opens on a
// pipe before it starts the panel; without that descriptor it does nothing.
//   app     the application object has just been made (main has started)
//   shown   the main window receives its first show event
//   drawn   the first paint of the main window has been flushed
// With QUENDRA_BENCH_STOP_AT set to "shown" or "drawn" the process ends right
// after that report, so that an instruction count under callgrind covers the
// start-up to that point and nothing after it.
#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int ReportFd = 3;

void report(const char* event)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%s %lld\n", event,
                                static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    const bool told = ::write(ReportFd, line, size_t(n)) == n;
    const char* stopAt = std::getenv("QUENDRA_BENCH_STOP_AT");
    if (told && stopAt && std::strcmp(stopAt, event) == 0)
        std::_Exit(0);
}

class FirstShow : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_drawing || !watched->isWidgetType())
            return false;
        // A window whose client area is covered by its children may get no
        // paint of its own: the first paint of anything in it counts.
        auto* widget = static_cast<QWidget*>(watched);
        if (!qobject_cast<QMainWindow*>(widget->window()))
            return false;
        if (event->type() == QEvent::Show && !m_shown && widget->isWindow()) {
            m_shown = true;
            report("shown");
        } else if (event->type() == QEvent::Paint && m_shown) {
            // Queued behind the paint pass that is under way, so it runs once
            // the whole window has been painted and flushed.
            m_drawing = true;
            QMetaObject::invokeMethod(
                this, [] { report("drawn"); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    bool m_shown = false;
    bool m_drawing = false;
};

void watchFirstShow()
{
    if (::fcntl(ReportFd, F_GETFD) < 0)
        return;
    report("app");
    QCoreApplication::instance()->installEventFilter(new FirstShow(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchFirstShow)
