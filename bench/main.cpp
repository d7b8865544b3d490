// quendra-bench: how quickly the panel comes up, how soon a press is on the
// line, and how much memory it takes. Prints one table; asserts nothing.
//
// Start-up: the real quendra-panel is started 20 times as a child process,
// offscreen, each time from a copy in a fresh folder whose quendra.ini maps
// COM1 to a fresh pseudo-terminal. Times run from just before the process is
// spawned to: the panel opening the pty (seen through inotify), the
// application object existing, the main window's first show event, and the
// first paint of the window flushed. The last three come from a small library
// preloaded into the child (shown_hook.cpp) that timestamps them with the same
// monotonic clock; the panel's own code is not changed for it.
// Each panel start is followed by a start of quendra-bench-bare, a plain Qt
// window with the same fifteen filled lists, the same way and with the same
// hook, and by one of the bare window with Qt Network preloaded: the ratios
// of neighbouring starts say what the panel costs beyond any Qt window, and
// how much of that is Qt Network, whatever else loads the machine.
//
// Click to line: one frmMain in this process, offscreen, with a recording
// message sink and COM1 on a pty at 38400 baud. Each press is
// QPushButton::click() on the real button, timed from just before the click
// to the moment a thread of the bench's own has read the last byte of its
// frame from the pty's other end. Between presses the event loop runs once, as it would between an
// operator's clicks; that time is outside the per-press figure but inside
// frames per second.
#include "bench/BenchSupport.h"
#include "serial/PseudoTerminal.h"
#include "settings/modINI.h"
#include "window/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace bench;

constexpr int StartupRuns = 20;
constexpr int PressesPerButton = 10000;
constexpr double CharTimeUs = 260.0; // 10 bits at 38400 baud, rounded
constexpr int ReportFd = 3;          // where shown_hook.cpp writes
constexpr qint64 StartupDeadlineNs = 20'000'000'000;
constexpr qint64 CountingDeadlineNs = 300'000'000'000; // callgrind runs some 50 times slower

// A pseudo-terminal in raw mode; the panel opens path, the bench reads master.
struct Pty : PseudoTerminal
{
    Pty()
    {
        if (!isValid())
            fatal(errorString());
    }
};

QByteArray settingsFor(const Pty& pty)
{
    return "[Settings]\nCommPort=1\nSetting=38400,n,8,1\nSlaveID=5\n[Ports]\nCOM1=" +
           pty.path().toUtf8() + "\n";
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        fatal(QStringLiteral("cannot write %1").arg(path));
}

struct Memory
{
    double rssMb = 0;
    double hwmMb = 0;
};

Memory memoryOf(const QString& statusPath)
{
    QFile file(statusPath);
    Memory m;
    if (!file.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const auto kb = [&line] { return line.simplified().split(' ').value(1).toDouble() / 1024; };
        if (line.startsWith("VmRSS:"))
            m.rssMb = kb();
        else if (line.startsWith("VmHWM:"))
            m.hwmMb = kb();
    }
    return m;
}

struct Stats
{
    double median = 0;
    double p99 = 0;
    double worst = 0;
};

// Nearest-rank percentiles.
Stats statsOf(std::vector<double>& values)
{
    Stats s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const auto rank = [&values](double p) {
        const auto i = size_t(std::ceil(p * double(values.size())));
        return values[std::clamp<size_t>(i, 1, values.size()) - 1];
    };
    s.median = rank(0.5);
    s.p99 = rank(0.99);
    s.worst = values.back();
    return s;
}

// The scheduler's account of every thread of process pid: time on a
// processor and time spent ready but waiting for one, in milliseconds.
void schedTimes(pid_t pid, double* runMs, double* waitMs)
{
    *runMs = *waitMs = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = file.readAll().simplified().split(' ');
        *runMs += fields.value(0).toDouble() / 1e6;
        *waitMs += fields.value(1).toDouble() / 1e6;
    }
}

// ---- start-up, as a child process ------------------------------------------

struct StartupRun
{
    double ptyOpenedMs = -1;
    double appMs = -1;
    double shownMs = -1;
    double drawnMs = -1;
    Memory memory;            // of the panel once its first frame is drawn
    double cpuMs = -1;        // time the panel's threads ran on a processor
    double waitMs = -1;       // time they were ready to run but waited for one
    qint64 instructions = -1; // to the first show event, under callgrind
};

// What callgrind counted, from the totals line of its output file.
qint64 instructionsIn(const QString& callgrindOut)
{
    QFile file(callgrindOut);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.startsWith("totals:") || line.startsWith("summary:"))
            return line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return -1;
}

// program is started as the panel is; only the panel is expected to open
// the pty. preload goes in front of the hook in LD_PRELOAD. With counting
// set, it runs under callgrind and ends at its first show event: the count
// of instructions to that point is the same from run to run, whatever the
// machine's load.
StartupRun startOnce(const QString& program, const QString& hook, const QString& preload = {},
                     bool counting = false)
{
    const bool isPanel = program.endsWith(QStringLiteral("/quendra-panel"));
    Pty pty;
    QTemporaryDir folder;
    if (!folder.isValid())
        fatal(QStringLiteral("no temporary folder"));
    // A copy, not a symlink: the panel looks for quendra.ini beside its real
    // executable.
    const QString exe = folder.filePath(QFileInfo(program).fileName());
    if (!QFile::copy(program, exe))
        fatal(QStringLiteral("cannot copy %1").arg(program));
    // Its shared libraries, which it finds in lib/ beside itself.
    const QString libraries = QFileInfo(program).absolutePath() + QStringLiteral("/lib");
    if (QFileInfo::exists(libraries) &&
        !QFile::link(libraries, folder.filePath(QStringLiteral("lib"))))
        fatal(QStringLiteral("cannot link %1").arg(libraries));
    writeFile(folder.filePath(QStringLiteral("quendra.ini")), settingsFor(pty));

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, pty.path().toLocal8Bit().constData(), IN_OPEN) < 0)
        fatal(QStringLiteral("inotify on %1: %2").arg(pty.path(), qt_error_string(errno)));
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        fatal(QStringLiteral("no pipe"));
    // Keep the write end away from descriptor 3 itself, so the child's dup2
    // really makes a fresh descriptor without close-on-exec.
    const int writeEnd = ::fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 10);
    ::close(pipeFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd, ReportFd);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    std::vector<QByteArray> env;
    for (char** e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (!entry.startsWith("QT_QPA_PLATFORM=") && !entry.startsWith("LD_PRELOAD="))
            env.push_back(entry);
    }
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    if (counting)
        env.emplace_back("QUENDRA_BENCH_STOP_AT=shown");
    env.push_back("LD_PRELOAD=" + (preload.isEmpty() ? QByteArray() : preload.toLocal8Bit() + ':') +
                  hook.toLocal8Bit());
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (QByteArray& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const QString callgrindOut = folder.filePath(QStringLiteral("callgrind.out"));
    std::vector<QByteArray> args;
    if (counting)
        args = {"valgrind", "--tool=callgrind", "-q",
                "--callgrind-out-file=" + callgrindOut.toLocal8Bit()};
    args.push_back(exe.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const qint64 start = nowNs();
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(writeEnd);
    if (spawned != 0)
        fatal(QStringLiteral("cannot start %1: %2").arg(exe, qt_error_string(spawned)));

    StartupRun run;
    const auto ms = [start](qint64 at) { return double(at - start) / 1e6; };
    QByteArray reports;
    const qint64 deadline = counting ? CountingDeadlineNs : StartupDeadlineNs;
    while (run.drawnMs < 0 && nowNs() - start < deadline) {
        pollfd p[2] = {{pipeFds[0], POLLIN, 0}, {watch, POLLIN, 0}};
        if (::poll(p, 2, 1000) <= 0)
            continue;
        if (p[1].revents & POLLIN) {
            const qint64 at = nowNs();
            char events[4096];
            if (::read(watch, events, sizeof events) > 0 && run.ptyOpenedMs < 0)
                run.ptyOpenedMs = ms(at);
        }
        if (p[0].revents & (POLLIN | POLLHUP)) {
            char buffer[256];
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0)
                break; // the program has gone (under callgrind: at its first show)
            reports.append(buffer, n);
            for (const QByteArray& line : reports.split('\n')) {
                const QList<QByteArray> fields = line.split(' ');
                if (fields.size() != 2)
                    continue;
                const double at = ms(fields[1].toLongLong());
                if (fields[0] == "app")
                    run.appMs = at;
                else if (fields[0] == "shown")
                    run.shownMs = at;
                else if (fields[0] == "drawn")
                    run.drawnMs = at;
            }
        }
    }
    if (!counting) {
        run.memory = memoryOf(QStringLiteral("/proc/%1/status").arg(pid));
        schedTimes(pid, &run.cpuMs, &run.waitMs);
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    ::close(pipeFds[0]);
    ::close(watch);
    if (counting) {
        run.instructions = instructionsIn(callgrindOut);
        if (run.shownMs < 0 || run.instructions <= 0)
            fatal(QStringLiteral("%1 under callgrind did not reach its first show")
                      .arg(QFileInfo(program).fileName()));
        return run;
    }
    if (run.drawnMs < 0 || run.shownMs < 0 || (isPanel && run.ptyOpenedMs < 0))
        fatal(QStringLiteral("%1 did not come up (opened %2 ms, shown %3 ms)")
                  .arg(QFileInfo(program).fileName())
                  .arg(run.ptyOpenedMs)
                  .arg(run.shownMs));
    return run;
}

// ---- click to line, in this process ----------------------------------------

struct ButtonResult
{
    const char* name = nullptr;
    qsizetype frameBytes = 0;
    Stats us;      // press to the last byte on the line
    Stats handler; // press to the click handler's return
    double framesPerSecond = 0;
    Memory after;
};

struct Button
{
    const char* name = nullptr;
    QPushButton* button = nullptr;
    std::function<void()> prepare; // what the operator does before pressing
    QByteArray frame;              // what each press sends
};

// The first press, untimed, says what every press of the button sends; it
// also lets the window load what it loads only on first use.
void pressOnce(Button& b, FarEnd& line, const QStringList& messages)
{
    b.prepare();
    b.button->click();
    b.frame = line.takeIdle(100);
    QApplication::processEvents();
    if (b.frame.isEmpty() || !messages.isEmpty())
        fatal(QStringLiteral("%1 sent nothing: %2")
                  .arg(QLatin1String(b.name), messages.join(QStringLiteral("; "))));
}

// samples and handled hold one figure per press; they are made, and their
// pages touched, before the window exists, so the bench's own bookkeeping
// does not count as the window's growth.
ButtonResult pressMany(const Button& b, FarEnd& line, const QStringList& messages,
                       std::vector<double>& samples, std::vector<double>& handled)
{
    ButtonResult result;
    result.name = b.name;
    result.frameBytes = b.frame.size();
    const qint64 began = nowNs();
    for (int i = 0; i < PressesPerButton; ++i) {
        b.prepare();
        const qint64 pressed = nowNs();
        b.button->click();
        const qint64 returned = nowNs();
        qint64 arrived = 0;
        const QByteArray got = line.take(b.frame.size(), &arrived);
        if (got != b.frame)
            fatal(QStringLiteral("%1, press %2: got %3, expected %4")
                      .arg(QLatin1String(b.name))
                      .arg(i)
                      .arg(QString::fromLatin1(got.toHex(' ')),
                           QString::fromLatin1(b.frame.toHex(' '))));
        samples[size_t(i)] = double(arrived - pressed) / 1e3;
        handled[size_t(i)] = double(returned - pressed) / 1e3;
        QApplication::processEvents();
    }
    const double seconds = double(nowNs() - began) / 1e9;
    if (!messages.isEmpty())
        fatal(QStringLiteral("%1: %2").arg(QLatin1String(b.name),
                                           messages.join(QStringLiteral("; "))));
    result.us = statsOf(samples);
    result.handler = statsOf(handled);
    result.framesPerSecond = PressesPerButton / seconds;
    result.after = memoryOf(QStringLiteral("/proc/self/status"));
    return result;
}

// The start-up figures of one program over its runs.
struct StartupSeries
{
    std::vector<StartupRun> runs;

    std::vector<double> of(double StartupRun::*field) const
    {
        std::vector<double> values;
        for (const StartupRun& run : runs)
            values.push_back(run.*field);
        return values;
    }
    std::vector<double> rss() const
    {
        std::vector<double> values;
        for (const StartupRun& run : runs)
            values.push_back(run.memory.rssMb);
        return values;
    }
};

// The median of the ratios of starts made one after the other: a change in
// the machine's load between runs falls on both sides of each ratio.
double pairedRatio(const std::vector<double>& mine, const std::vector<double>& floor)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < std::min(mine.size(), floor.size()); ++i)
        if (floor[i] > 0)
            ratios.push_back(mine[i] / floor[i]);
    return median(ratios);
}

QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
    return QStringLiteral("unknown");
}

} // namespace

int main(int argc, char* argv[])
{
    bench::setProgramName("quendra-bench");
    const QString panel = QStringLiteral(QUENDRA_PANEL_PATH);
    const QString hook = QStringLiteral(QUENDRA_SHOWN_HOOK);
    const QString bare = QStringLiteral(QUENDRA_BARE_PATH);
    const QString network = QStringLiteral(QUENDRA_NETWORK_LIBRARY);

    std::printf("quendra-bench (%s build), %ld cores, %s, Qt %s\n",
                *QUENDRA_BUILD_TYPE ? QUENDRA_BUILD_TYPE : "unspecified",
                ::sysconf(_SC_NPROCESSORS_ONLN), qPrintable(cpuModel()), qVersion());
    std::printf("load average at the start: %s\n", qPrintable(loadAverage()));
    std::fflush(stdout);

    // Start-up first, while this process holds no Qt state of its own. The
    // three programs take turns, so that each panel start has a bare start
    // beside it.
    std::vector<double> opened, app, shown, drawn, rss, hwm, cpu, waited;
    StartupSeries panels, bares, bareNetworks;
    for (int i = 0; i < StartupRuns; ++i) {
        const StartupRun run = startOnce(panel, hook);
        bares.runs.push_back(startOnce(bare, hook));
        bareNetworks.runs.push_back(startOnce(bare, hook, network));
        panels.runs.push_back(run);
        opened.push_back(run.ptyOpenedMs);
        app.push_back(run.appMs);
        shown.push_back(run.shownMs);
        drawn.push_back(run.drawnMs);
        rss.push_back(run.memory.rssMb);
        hwm.push_back(run.memory.hwmMb);
        cpu.push_back(run.cpuMs);
        waited.push_back(run.waitMs);
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Pty pty;
    QTemporaryDir folder;
    writeFile(folder.filePath(QStringLiteral("quendra.ini")), settingsFor(pty));
    modINI::setAppFolderOverride(folder.path());

    std::vector<double> samples(PressesPerButton), handled(PressesPerButton);
    QStringList messages;
    messages.reserve(16);
    const qint64 constructing = nowNs();
    frmMain window([&messages](const QString& text, const QString& detail) {
        messages.append(detail.isEmpty() ? text : text + " (" + detail + ")");
    });
    const qint64 showing = nowNs();
    window.show();
    const qint64 shownAt = nowNs();
    QApplication::processEvents();
    const Memory afterStart = memoryOf(QStringLiteral("/proc/self/status"));
    if (!messages.isEmpty())
        fatal(messages.join(QStringLiteral("; ")));

    auto* text = window.findChild<QLineEdit*>(QStringLiteral("txtdata"));
    // The order matters once: the brightness frame carries the payload the
    // segment button left, both on its first press and in its own run.
    std::vector<Button> buttons;
    for (const char* name :
         {"cmdTransmit", "cmdDP", "cmdDecimal", "cmdShort", "cmdSEG", "cmdDIM", "cmdConfig"}) {
        Button b;
        b.name = name;
        b.button = window.findChild<QPushButton*>(QLatin1String(name));
        if (!b.button)
            fatal(QStringLiteral("no button %1").arg(QLatin1String(name)));
        if (qstrcmp(name, "cmdTransmit") == 0)
            b.prepare = [text] { text->setText(QStringLiteral("HI")); };
        else
            b.prepare = [] {};
        buttons.push_back(b);
    }
    FarEnd line(pty.master());
    for (Button& b : buttons)
        pressOnce(b, line, messages);
    const Memory afterFirstPresses = memoryOf(QStringLiteral("/proc/self/status"));
    std::vector<ButtonResult> results;
    results.reserve(buttons.size());
    for (const Button& b : buttons)
        results.push_back(pressMany(b, line, messages, samples, handled));
    const Memory afterPresses = memoryOf(QStringLiteral("/proc/self/status"));

    // The three programs again under callgrind, after this process's own
    // memory has been taken: instruction counts do not move with the load,
    // so they compare builds measured at different times.
    std::vector<qint64> counts;
    if (!QStandardPaths::findExecutable(QStringLiteral("valgrind")).isEmpty())
        for (const StartupRun& run :
             {startOnce(panel, hook, {}, true), startOnce(bare, hook, {}, true),
              startOnce(bare, hook, network, true)})
            counts.push_back(run.instructions);

    const Stats sOpened = statsOf(opened), sApp = statsOf(app), sShown = statsOf(shown),
                sDrawn = statsOf(drawn), sRss = statsOf(rss), sHwm = statsOf(hwm),
                sCpu = statsOf(cpu), sWaited = statsOf(waited);
    std::printf(
        "\nStart-up: %d runs of quendra-panel as a child, offscreen, fresh pty and folder\n",
        StartupRuns);
    std::printf("  %-40s %9s %9s\n", "from process start to", "median", "worst");
    std::printf("  %-40s %6.1f ms %6.1f ms\n", "pty opened by the start-up sequence",
                sOpened.median, sOpened.worst);
    std::printf("  %-40s %6.1f ms %6.1f ms\n", "application object made", sApp.median, sApp.worst);
    std::printf("  %-40s %6.1f ms %6.1f ms\n", "window shown (first show event)", sShown.median,
                sShown.worst);
    std::printf("  %-40s %6.1f ms %6.1f ms\n", "first paint of the window flushed", sDrawn.median,
                sDrawn.worst);
    std::printf("  %-40s %6.1f ms %6.1f ms\n", "  of which the panel ran on a processor",
                sCpu.median, sCpu.worst);
    std::printf("  %-40s %6.1f ms %6.1f ms\n", "  and was ready but waited for one", sWaited.median,
                sWaited.worst);
    std::printf("  %-40s %6.1f MB %6.1f MB\n", "panel VmRSS once drawn", sRss.median, sRss.worst);
    std::printf("  %-40s %6.1f MB %6.1f MB\n", "panel VmHWM once drawn", sHwm.median, sHwm.worst);

    std::printf("\nAgainst a bare Qt window (quendra-bench-bare: the fifteen filled lists, nothing "
                "else),\n%d alternated starts each; ratio = median of panel/bare over neighbouring "
                "starts\n",
                StartupRuns);
    std::printf("  %-30s %9s %9s %7s %15s\n", "median", "panel", "bare", "ratio", "bare+QtNetwork");
    struct Row
    {
        const char* name;
        double StartupRun::*field;
    };
    double shownRatio = 0;
    for (const Row& row : {Row{"window shown", &StartupRun::shownMs},
                           Row{"first paint flushed", &StartupRun::drawnMs},
                           Row{"ran on a processor", &StartupRun::cpuMs}}) {
        const double ratio = pairedRatio(panels.of(row.field), bares.of(row.field));
        std::printf("  %-30s %6.1f ms %6.1f ms %7.3f %9.1f ms %.3f\n", row.name,
                    median(panels.of(row.field)), median(bares.of(row.field)), ratio,
                    median(bareNetworks.of(row.field)),
                    pairedRatio(bareNetworks.of(row.field), bares.of(row.field)));
        if (row.field == &StartupRun::shownMs)
            shownRatio = ratio;
    }
    const double rssRatio = pairedRatio(panels.rss(), bares.rss());
    std::printf("  %-30s %6.1f MB %6.1f MB %7.3f %9.1f MB %.3f\n", "VmRSS once drawn",
                median(panels.rss()), median(bares.rss()), rssRatio, median(bareNetworks.rss()),
                pairedRatio(bareNetworks.rss(), bares.rss()));
    std::printf("  (bare+QtNetwork: the bare window with libQt6Network preloaded, against the "
                "bare one)\n");
    double countRatio = 0;
    if (!counts.empty()) {
        countRatio = double(counts[0]) / double(counts[1]);
        std::printf("  %-30s %8.1fM %8.1fM %7.3f %9.1fM  %.3f\n", "instructions to shown",
                    double(counts[0]) / 1e6, double(counts[1]) / 1e6, countRatio,
                    double(counts[2]) / 1e6, double(counts[2]) / double(counts[1]));
        std::printf("  (instructions: one run of each under valgrind --tool=callgrind, ended at "
                    "the first show event)\n");
    } else {
        std::printf("  instructions to shown: valgrind is not installed\n");
    }

    std::printf("\n  in this process, its first window: frmMain constructed (start-up sequence) "
                "%.1f ms, shown %.1f ms\n",
                double(showing - constructing) / 1e6, double(shownAt - showing) / 1e6);

    std::printf("\nClick to line: %d presses per button, QPushButton::click() to the last byte "
                "read on the pty\n",
                PressesPerButton);
    std::printf("  %-12s %5s %9s %9s %9s %10s %10s %9s\n", "button", "bytes", "median us", "p99 us",
                "max us", "p99/char", "max/char", "frames/s");
    double worstP99 = 0;
    for (const ButtonResult& b : results) {
        std::printf("  %-12s %5lld %9.1f %9.1f %9.1f %9.2f %9.2f %9.0f %7.1f/%.1f\n", b.name,
                    static_cast<long long>(b.frameBytes), b.us.median, b.us.p99, b.us.worst,
                    b.us.p99 / CharTimeUs, b.us.worst / CharTimeUs, b.framesPerSecond,
                    b.handler.median, b.handler.p99);
        worstP99 = std::max(worstP99, b.us.p99);
    }
    std::printf(
        "  (char = one character time at 38400 baud, %.0f us; handler = press to the click\n"
        "   handler's return, in us, which may end after the frame is on the line)\n",
        CharTimeUs);

    std::printf("\nMemory of this process, the panel's window in it (VmRSS / VmHWM)\n");
    std::printf("  %-40s %6.1f MB / %6.1f MB\n", "after start-up", afterStart.rssMb,
                afterStart.hwmMb);
    std::printf("  %-40s %6.1f MB / %6.1f MB\n", "after one untimed press of each button",
                afterFirstPresses.rssMb, afterFirstPresses.hwmMb);
    for (const ButtonResult& b : results)
        std::printf("  after %-34s %6.1f MB / %6.1f MB\n",
                    qPrintable(QStringLiteral("%1 x %2").arg(PressesPerButton).arg(b.name)),
                    b.after.rssMb, b.after.hwmMb);
    const double firstUse = afterFirstPresses.rssMb - afterStart.rssMb;
    const double growth = afterPresses.rssMb - afterFirstPresses.rssMb;
    std::printf("  %-40s %+6.2f MB\n", "growth on first use of the buttons", firstUse);
    std::printf("  %-40s %+6.2f MB\n", "growth over the 70,000 timed presses", growth);

    std::printf("\nload average at the end: %s\n", qPrintable(loadAverage()));
    std::printf("\nTargets\n");
    std::printf("  start-up median under 100 ms: %6.1f ms  %s\n", sShown.median,
                verdict(sShown.median < 100));
    std::printf("  click to line p99 under 1 ms: %6.1f us  %s\n", worstP99,
                verdict(worstP99 < 1000));
    std::printf("  resident memory under 40 MB:  %6.1f MB  %s\n",
                std::max(sHwm.worst, afterPresses.hwmMb),
                verdict(std::max(sHwm.worst, afterPresses.hwmMb) < 40));
    std::printf("  no growth over the presses:   %+6.2f MB  %s\n", growth, verdict(growth < 0.05));
    std::printf("  shown, panel/bare at most 1.05:  %5.3f  %s\n", shownRatio,
                verdict(shownRatio <= 1.05));
    std::printf("  VmRSS, panel/bare at most 1.02:  %5.3f  %s\n", rssRatio,
                verdict(rssRatio <= 1.02));
    if (countRatio > 0)
        std::printf("  instructions, panel/bare at most 1.05:  %5.3f  %s\n", countRatio,
                    verdict(countRatio <= 1.05));
    return 0;
}
