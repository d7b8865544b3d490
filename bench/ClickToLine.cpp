// Click to line, in this process: one frmMain, offscreen, with a recording
// message sink and COM1 on a pty at 38400 baud. Each press is
// QPushButton::click() on the real button, timed from just before the click
// to the moment a thread of the bench's own has read the last byte of its
// frame from the pty's other end. Between presses the event loop runs once,
// as it would between an operator's clicks; that time is outside the
// per-press figure but inside frames per second.
#include "bench/ClickToLine.h"

#include "settings/modINI.h"
#include "window/frmMain.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace bench {

namespace {

constexpr int PressesPerButton = 10000;
constexpr double CharTimeUs = 260.0; // 10 bits at 38400 baud, rounded

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

} // namespace

ClickFigures pressEveryButton()
{
    ClickFigures figures;
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
    figures.afterStart = memoryOf(QStringLiteral("/proc/self/status"));
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
    figures.afterFirstPresses = memoryOf(QStringLiteral("/proc/self/status"));
    std::vector<ButtonResult>& results = figures.results;
    results.reserve(buttons.size());
    for (const Button& b : buttons)
        results.push_back(pressMany(b, line, messages, samples, handled));
    figures.afterPresses = memoryOf(QStringLiteral("/proc/self/status"));
    figures.constructedMs = double(showing - constructing) / 1e6;
    figures.shownMs = double(shownAt - showing) / 1e6;
    return figures;
}

double printClicks(const ClickFigures& figures)
{
    const std::vector<ButtonResult>& results = figures.results;
    const Memory& afterStart = figures.afterStart;
    const Memory& afterFirstPresses = figures.afterFirstPresses;
    std::printf("\n  in this process, its first window: frmMain constructed (start-up sequence) "
                "%.1f ms, shown %.1f ms\n",
                figures.constructedMs, figures.shownMs);

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
    const double growth = figures.growthMb();
    std::printf("  %-40s %+6.2f MB\n", "growth on first use of the buttons", firstUse);
    std::printf("  %-40s %+6.2f MB\n", "growth over the 70,000 timed presses", growth);
    return worstP99;
}

} // namespace bench
