#pragma once

#include "bench/PanelBench.h"

#include <QString>

#include <vector>

// Start-up figures: the real quendra-panel started as a child process beside
// a bare Qt window with the same fifteen filled lists (quendra-bench-bare),
// alone and with Qt Network preloaded, timed by a hook preloaded into each
// (shown_hook.cpp); and one start of each under callgrind, counting
// instructions to the first show.
namespace bench {

// One start, in ms from just before the process was spawned; -1 where it was
// not seen.
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

// The start-up figures of one program over its runs.
struct StartupSeries
{
    std::vector<StartupRun> runs;

    std::vector<double> of(double StartupRun::*field) const;
    std::vector<double> of(double Memory::*field) const;
};

// What is started, and what is preloaded into it.
struct StartupPrograms
{
    QString panel;
    QString bare;
    QString hook;    // shown_hook.cpp
    QString network; // Qt Network, preloaded into the bare window for the third series
};

struct StartupFigures
{
    StartupSeries panels;
    StartupSeries bares;
    StartupSeries bareNetworks;
    // Instructions to the first show of the panel, the bare window and the
    // bare window with Qt Network; empty without valgrind.
    std::vector<qint64> counts;
};

// What the targets judge of the start-up.
struct StartupVerdicts
{
    double shownMedian = 0; // ms to the first show event
    double hwmWorst = 0;    // MB
    double shownRatio = 0;  // panel/bare
    double rssRatio = 0;    // panel/bare
    double countRatio = 0;  // panel/bare; 0 without valgrind
};

// The three programs in turns, so that each panel start has a bare start
// beside it, whatever else loads the machine meanwhile.
StartupFigures startInTurns(const StartupPrograms& programs);
// One start of each under callgrind, if valgrind is installed.
std::vector<qint64> countInstructions(const StartupPrograms& programs);

// The start-up table and the comparison with the bare window.
StartupVerdicts printStartup(const StartupFigures& figures);

} // namespace bench
