// quendra-bench: how quickly the panel comes up, how soon a press is on the
// line, and how much memory it takes. Prints one table; asserts nothing.
// The start-up figures are in PanelStartup.cpp, the click-to-line figures in
// ClickToLine.cpp; this file runs them in turn and judges the targets.
#include "bench/BenchSupport.h"
#include "bench/ClickToLine.h"
#include "bench/PanelStartup.h"

#include <QApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

using namespace bench;

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
    StartupPrograms programs;
    programs.panel = QStringLiteral(QUENDRA_PANEL_PATH);
    programs.hook = QStringLiteral(QUENDRA_SHOWN_HOOK);
    programs.bare = QStringLiteral(QUENDRA_BARE_PATH);
    programs.network = QStringLiteral(QUENDRA_NETWORK_LIBRARY);

    std::printf("quendra-bench (%s build), %ld cores, %s, Qt %s\n",
                *QUENDRA_BUILD_TYPE ? QUENDRA_BUILD_TYPE : "unspecified",
                ::sysconf(_SC_NPROCESSORS_ONLN), qPrintable(cpuModel()), qVersion());
    std::printf("load average at the start: %s\n", qPrintable(loadAverage()));
    std::fflush(stdout);

    // Start-up first, while this process holds no Qt state of its own.
    StartupFigures startup = startInTurns(programs);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const ClickFigures clicks = pressEveryButton();

    // The three programs again under callgrind, after this process's own
    // memory has been taken: instruction counts do not move with the load,
    // so they compare builds measured at different times.
    startup.counts = countInstructions(programs);

    const StartupVerdicts started = printStartup(startup);
    const double worstP99 = printClicks(clicks);
    const double growth = clicks.growthMb();
    const Memory& afterPresses = clicks.afterPresses;

    std::printf("\nload average at the end: %s\n", qPrintable(loadAverage()));
    std::printf("\nTargets\n");
    std::printf("  start-up median under 100 ms: %6.1f ms  %s\n", started.shownMedian,
                verdict(started.shownMedian < 100));
    std::printf("  click to line p99 under 1 ms: %6.1f us  %s\n", worstP99,
                verdict(worstP99 < 1000));
    std::printf("  resident memory under 40 MB:  %6.1f MB  %s\n",
                std::max(started.hwmWorst, afterPresses.hwmMb),
                verdict(std::max(started.hwmWorst, afterPresses.hwmMb) < 40));
    std::printf("  no growth over the presses:   %+6.2f MB  %s\n", growth, verdict(growth < 0.05));
    std::printf("  shown, panel/bare at most 1.05:  %5.3f  %s\n", started.shownRatio,
                verdict(started.shownRatio <= 1.05));
    std::printf("  VmRSS, panel/bare at most 1.02:  %5.3f  %s\n", started.rssRatio,
                verdict(started.rssRatio <= 1.02));
    if (started.countRatio > 0)
        std::printf("  instructions, panel/bare at most 1.05:  %5.3f  %s\n", started.countRatio,
                    verdict(started.countRatio <= 1.05));
    return 0;
}
