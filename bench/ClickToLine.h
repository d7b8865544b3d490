#pragma once

#include "bench/PanelBench.h"

#include <vector>

// Click-to-line figures: one frmMain in this process, each of its seven
// buttons pressed many times, timed to the last byte of its frame read at
// the pty's other end; and this process's memory as the presses go on.
namespace bench {

struct ButtonResult
{
    const char* name = nullptr;
    qsizetype frameBytes = 0;
    Stats us;      // press to the last byte on the line
    Stats handler; // press to the click handler's return
    double framesPerSecond = 0;
    Memory after;
};

struct ClickFigures
{
    double constructedMs = 0; // frmMain constructed (its start-up sequence)
    double shownMs = 0;       // and shown
    Memory afterStart;
    Memory afterFirstPresses;
    Memory afterPresses;
    std::vector<ButtonResult> results;

    // What the timed presses added to the resident memory.
    double growthMb() const { return afterPresses.rssMb - afterFirstPresses.rssMb; }
};

// Needs the QApplication; the window lives for the call.
ClickFigures pressEveryButton();

// The click-to-line table and the memory of this process; returns the worst
// p99 of any button, in us.
double printClicks(const ClickFigures& figures);

} // namespace bench
