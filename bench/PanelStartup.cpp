// Start-up, as a child process. The real quendra-panel is started 20 times
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
#include "bench/PanelStartup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

namespace {

constexpr int StartupRuns = 20;
constexpr int ReportFd = 3; // where shown_hook.cpp writes
constexpr qint64 StartupDeadlineNs = 20'000'000'000;
constexpr qint64 CountingDeadlineNs = 300'000'000'000; // callgrind runs some 50 times slower

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

} // namespace

std::vector<double> StartupSeries::of(double StartupRun::*field) const
{
    std::vector<double> values;
    for (const StartupRun& run : runs)
        values.push_back(run.*field);
    return values;
}

std::vector<double> StartupSeries::of(double Memory::*field) const
{
    std::vector<double> values;
    for (const StartupRun& run : runs)
        values.push_back(run.memory.*field);
    return values;
}

StartupFigures startInTurns(const StartupPrograms& programs)
{
    StartupFigures figures;
    for (int i = 0; i < StartupRuns; ++i) {
        const StartupRun run = startOnce(programs.panel, programs.hook);
        figures.bares.runs.push_back(startOnce(programs.bare, programs.hook));
        figures.bareNetworks.runs.push_back(
            startOnce(programs.bare, programs.hook, programs.network));
        figures.panels.runs.push_back(run);
    }
    return figures;
}

std::vector<qint64> countInstructions(const StartupPrograms& programs)
{
    std::vector<qint64> counts;
    if (!QStandardPaths::findExecutable(QStringLiteral("valgrind")).isEmpty())
        for (const StartupRun& run :
             {startOnce(programs.panel, programs.hook, {}, true),
              startOnce(programs.bare, programs.hook, {}, true),
              startOnce(programs.bare, programs.hook, programs.network, true)})
            counts.push_back(run.instructions);
    return counts;
}

StartupVerdicts printStartup(const StartupFigures& figures)
{
    const StartupSeries& panels = figures.panels;
    const StartupSeries& bares = figures.bares;
    const StartupSeries& bareNetworks = figures.bareNetworks;
    const std::vector<qint64>& counts = figures.counts;
    std::vector<double> opened = panels.of(&StartupRun::ptyOpenedMs),
                        app = panels.of(&StartupRun::appMs),
                        shown = panels.of(&StartupRun::shownMs),
                        drawn = panels.of(&StartupRun::drawnMs), rss = panels.of(&Memory::rssMb),
                        hwm = panels.of(&Memory::hwmMb), cpu = panels.of(&StartupRun::cpuMs),
                        waited = panels.of(&StartupRun::waitMs);
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
    const double rssRatio = pairedRatio(panels.of(&Memory::rssMb), bares.of(&Memory::rssMb));
    std::printf("  %-30s %6.1f MB %6.1f MB %7.3f %9.1f MB %.3f\n", "VmRSS once drawn",
                median(panels.of(&Memory::rssMb)), median(bares.of(&Memory::rssMb)), rssRatio,
                median(bareNetworks.of(&Memory::rssMb)),
                pairedRatio(bareNetworks.of(&Memory::rssMb), bares.of(&Memory::rssMb)));
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
    StartupVerdicts verdicts;
    verdicts.shownMedian = sShown.median;
    verdicts.hwmWorst = sHwm.worst;
    verdicts.shownRatio = shownRatio;
    verdicts.rssRatio = rssRatio;
    verdicts.countRatio = countRatio;
    return verdicts;
}

} // namespace bench
