#include "tools/send/Progress.h"

#include "common/StopSignals.h"

#include <algorithm>
#include <cmath>

namespace send {

namespace {

// A run shorter than this says nothing; a longer one redraws no oftener.
constexpr qint64 QuietMs = 1000;
constexpr qint64 RedrawMs = 200;
// The longest a pause goes without a redraw.
constexpr int PauseStepMs = 200;

QString rate(double framesPerSecond)
{
    return framesPerSecond < 10 ? QString::number(framesPerSecond, 'f', 1)
                                : QString::number(std::llround(framesPerSecond));
}

} // namespace

QString clockTime(qint64 seconds)
{
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const QString mmss = QStringLiteral("%1:%2").arg(m).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return h > 0 ? QStringLiteral("%1:%2").arg(h).arg(mmss.rightJustified(5, QLatin1Char('0')))
                 : mmss;
}

QString progressLine(const ProgressFigures& f)
{
    return QStringLiteral("%1 of %2 frame%3 sent, %4 confirmed, %5 frames/s, %6 gone, %7 left")
        .arg(f.sent)
        .arg(f.total)
        .arg(f.total == 1 ? "" : "s")
        .arg(f.confirmed)
        .arg(rate(f.framesPerSecond), clockTime(f.goneMs / 1000),
             // Rounded up: "0:00 left" only once nothing is.
             clockTime((f.leftMs + 999) / 1000));
}

Progress::Progress(QTextStream& err, bool shown, qsizetype frames, qint64 waitsMs,
                   double lineMsPerFrame)
    : m_err(err), m_shown(shown), m_total(frames), m_waitsLeftMs(waitsMs),
      m_lineMsPerFrame(lineMsPerFrame)
{
    m_clock.start();
}

qint64 Progress::pausedMs() const
{
    return m_pauseStart < 0 ? 0 : m_clock.elapsed() - m_pauseStart;
}

ProgressFigures Progress::figures(qsizetype confirmed) const
{
    ProgressFigures f;
    f.sent = m_sent;
    f.total = m_total;
    f.confirmed = confirmed;
    f.goneMs = m_clock.elapsed();
    const qint64 sendingMs = std::max<qint64>(f.goneMs - m_waitedMs - pausedMs(), 0);
    const double perFrameMs = m_sent > 0 ? double(sendingMs) / double(m_sent) : m_lineMsPerFrame;
    const qint64 pauseLeftMs = m_pauseStart < 0 ? 0 : std::max<qint64>(m_pauseMs - pausedMs(), 0);
    f.leftMs =
        qint64(std::ceil(double(m_total - m_sent) * perFrameMs)) + m_waitsLeftMs + pauseLeftMs;
    // Over the whole run, pauses included: what brings the end nearer.
    f.framesPerSecond = f.goneMs > 0 ? double(m_sent) * 1000.0 / double(f.goneMs) : 0;
    return f;
}

void Progress::draw(qsizetype confirmed, bool always)
{
    const qint64 now = m_clock.elapsed();
    if (!m_shown || now < QuietMs || (!always && m_drawnAtMs >= 0 && now - m_drawnAtMs < RedrawMs))
        return;
    // Back to the line's start, the figures, the rest of the old line erased.
    m_err << '\r' << progressLine(figures(confirmed)) << "\x1b[K";
    m_err.flush();
    m_drawnAtMs = now;
}

void Progress::frameSent(qsizetype confirmed)
{
    ++m_sent;
    draw(confirmed, false);
}

bool Progress::pause(int ms, qsizetype confirmed)
{
    m_waitsLeftMs -= ms;
    m_pauseMs = ms;
    m_pauseStart = m_clock.elapsed();
    bool whole = true;
    for (qint64 left = ms; left > 0 && whole; left = ms - pausedMs()) {
        whole = stop::pause(int(std::min<qint64>(left, PauseStepMs)));
        draw(confirmed, false);
    }
    m_waitedMs += pausedMs();
    m_pauseStart = -1;
    return whole && !stop::requested();
}

void Progress::finish(qsizetype confirmed)
{
    if (m_drawnAtMs < 0)
        return;
    draw(confirmed, true);
    m_err << '\n';
    m_err.flush();
}

} // namespace send
