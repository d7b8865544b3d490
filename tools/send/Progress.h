#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

// The line a long script keeps redrawn on standard error, so that a run of
// minutes is not one of silence: frames sent of the total, confirmed, the
// rate, the time gone and the time left.
namespace send {

struct ProgressFigures
{
    qsizetype sent = 0;
    qsizetype total = 0;
    qsizetype confirmed = 0;
    qint64 goneMs = 0;
    qint64 leftMs = 0;
    double framesPerSecond = 0; // over the time gone
};

// "4200 of 100000 frames sent, 4192 confirmed, 115 frames/s, 0:36 gone,
// 13:51 left"
QString progressLine(const ProgressFigures& figures);

// "0:07", "14:03", "1:02:03"
QString clockTime(qint64 seconds);

// A script's run as it goes: counts what was sent, takes its pauses (which
// a stop signal cuts short), and, where it is shown, draws the line once the
// run has lasted a second, at most five times a second, in place.
class Progress
{
public:
    // shown: standard error is a terminal, and the line was not asked off.
    // The time left counts the frames still to go at the time each frame
    // has taken so far (before the first, lineMsPerFrame, the frames' own
    // time at the line's settings), and the pauses still to come.
    Progress(QTextStream& err, bool shown, qsizetype frames, qint64 waitsMs, double lineMsPerFrame);

    void frameSent(qsizetype confirmed);
    // The script's pause of ms; false when a stop signal cut it short.
    bool pause(int ms, qsizetype confirmed);
    // Draws the last figures and ends the line, where one was drawn, so that
    // whatever is said next starts on a line of its own.
    void finish(qsizetype confirmed);

    ProgressFigures figures(qsizetype confirmed) const;

private:
    void draw(qsizetype confirmed, bool always);
    qint64 pausedMs() const;

    QTextStream& m_err;
    bool m_shown;
    qsizetype m_total;
    qsizetype m_sent = 0;
    qint64 m_waitsLeftMs;
    double m_lineMsPerFrame;
    QElapsedTimer m_clock;
    qint64 m_waitedMs = 0;    // pauses over
    qint64 m_pauseStart = -1; // the pause under way, on m_clock
    qint64 m_pauseMs = 0;
    qint64 m_drawnAtMs = -1;
};

} // namespace send
