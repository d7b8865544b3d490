// quendra-bench-network: what a confirmed send costs through a terminal
// server, beside the local figure. One frmMain in this process, offscreen,
// messages recorded; COM1 is a pty, COM2 rfc2217:// and COM3 socket://
// through a real ser2net on loopback, each in front of a pty of its own.
// The panel's path: each press of "Set DP" is timed from just before
// QPushButton::click() to the moment a thread of the bench's own has read the
// frame's last byte from the far pty, and to the click's return (the
// operator's wait, confirmation included). quendra-send's path: the port
// object as the sender drives it, 2,000 frames confirmed every N, and a
// one-frame script from open to close. Prints tables; asserts nothing.
#include "bench/BenchSupport.h"
#include "serial/MSComm.h"
#include "settings/modINI.h"
#include "tests/support/Pty.h"
#include "tests/support/Ser2net.h"
#include "window/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

using namespace bench;

constexpr int Presses = 2000;
constexpr int FrameBytes = 3; // UID, code, decimal points
constexpr int ScriptFrames = 2000;
constexpr int ScriptRuns = 20;

struct Stats
{
    double p50 = 0, p99 = 0, worst = 0;
};

Stats statsOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const auto rank = [&v](double p) {
        const auto i = size_t(std::ceil(p * double(v.size())));
        return v[std::clamp<size_t>(i, 1, v.size()) - 1];
    };
    return {rank(0.5), rank(0.99), v.back()};
}

} // namespace

int main(int argc, char* argv[])
{
    bench::setProgramName("quendra-bench-network");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (!Ser2net::installed())
        fatal(QStringLiteral("ser2net is not installed"));

    Pty local, viaRfc2217, viaSocket;
    Ser2net rfc2217(viaRfc2217.devicePath(), Ser2net::Form::Rfc2217);
    Ser2net socket(viaSocket.devicePath(), Ser2net::Form::Socket);
    QString why;
    if (!rfc2217.start(&why) || !socket.start(&why))
        fatal(why);

    QTemporaryDir folder;
    QFile ini(folder.filePath(QStringLiteral("quendra.ini")));
    const QByteArray settings = "[Settings]\nCommPort=1\nSetting=38400,n,8,1\nSlaveID=5\n"
                                "[Ports]\nCOM1=" +
                                local.devicePath().toUtf8() +
                                "\nCOM2=" + rfc2217.portName().toUtf8() +
                                "\nCOM3=" + socket.portName().toUtf8() + "\n";
    if (!ini.open(QIODevice::WriteOnly) || ini.write(settings) != settings.size())
        fatal(QStringLiteral("cannot write %1").arg(ini.fileName()));
    ini.close();
    modINI::setAppFolderOverride(folder.path());

    QStringList messages;
    frmMain window([&messages](const QString& text, const QString& detail) {
        messages.append(detail.isEmpty() ? text : text + " (" + detail + ")");
    });
    window.show();
    QApplication::processEvents();
    auto* button = window.findChild<QPushButton*>(QStringLiteral("cmdDP"));

    std::printf("quendra-bench-network: load average at the start: %s\n",
                qPrintable(loadAverage()));
    std::printf("%d presses of Set DP (%d bytes) per line, 38400 baud,\n"
                "QPushButton::click() to the last byte read at the far pty\n",
                Presses, FrameBytes);
    std::printf("  %-34s %9s %9s %9s %11s %11s\n", "line", "p50 us", "p99 us", "max us",
                "click p50", "click p99");
    const struct
    {
        const char* name;
        const char* entry;
        Pty* pty;
    } lines[] = {{"local pty (COM1)", "mnuCOM_1", &local},
                 {"rfc2217:// via ser2net (COM2)", "mnuCOM_2", &viaRfc2217},
                 {"socket:// via ser2net (COM3)", "mnuCOM_3", &viaSocket}};
    for (const auto& line : lines) {
        window.findChild<QAction*>(QLatin1String(line.entry))->trigger();
        FarEnd far(line.pty->masterFd(), false);
        std::vector<double> us;
        std::vector<double> clickUs;
        us.reserve(Presses);
        clickUs.reserve(Presses);
        // The first press is untimed: the path warms up.
        for (int i = 0; i <= Presses; ++i) {
            const qint64 pressed = nowNs();
            button->click();
            const qint64 returned = nowNs();
            const qint64 arrived =
                far.waitForCount(qint64(i + 1) * FrameBytes, nowNs() + 2'000'000'000);
            if (arrived == 0 || !messages.isEmpty())
                fatal(QStringLiteral("%1, press %2: %3 bytes; %4")
                          .arg(QLatin1String(line.name))
                          .arg(i)
                          .arg(far.count())
                          .arg(messages.join(QStringLiteral("; "))));
            if (i > 0) {
                us.push_back(double(arrived - pressed) / 1e3);
                clickUs.push_back(double(returned - pressed) / 1e3);
            }
            QApplication::processEvents();
        }
        const Stats s = statsOf(us);
        const Stats c = statsOf(clickUs);
        std::printf("  %-34s %9.1f %9.1f %9.1f %11.1f %11.1f\n", line.name, s.p50, s.p99, s.worst,
                    c.p50, c.p99);
        std::fflush(stdout);
    }
    std::printf("  (click = QPushButton::click() to its return: the write, and for rfc2217://\n"
                "   the server's answer that confirms the frame)\n");
    // The window lets go of the network ports before the sender's turn.
    window.findChild<QAction*>(QStringLiteral("mnuCOM_1"))->trigger();

    std::printf("\nquendra-send's path: the port object as the sender drives it, 38400,n,8,1,\n"
                "%d frames of 8 bytes confirmed every N; then a one-frame script, median of %d\n",
                ScriptFrames, ScriptRuns);
    std::printf("  %-26s %5s %10s %14s %14s %10s\n", "line", "N", "us/frame", "confirm p50 us",
                "confirm p99 us", "close ms");
    const QByteArray frame = QByteArray::fromHex("0562202020204849");
    const struct
    {
        const char* name;
        QString port;
        Pty* pty;
    } networkLines[] = {{"rfc2217:// via ser2net", rfc2217.portName(), &viaRfc2217},
                        {"socket:// via ser2net", socket.portName(), &viaSocket}};
    for (const auto& line : networkLines) {
        FarEnd far(line.pty->masterFd(), false);
        qint64 expected = far.count();
        for (const int every : {1, 4, 16, 64, ScriptFrames}) {
            MSComm port;
            port.setDevice(line.port);
            port.setSettings(QStringLiteral("38400,n,8,1"));
            port.setConfirmEvery(every);
            if (!port.open())
                fatal(port.errorString());
            const qint64 start = nowNs();
            std::vector<double> batchUs; // the writes that waited for a confirmation
            for (int i = 0; i < ScriptFrames; ++i) {
                const qint64 before = nowNs();
                if (!port.write(frame).ok())
                    fatal(port.errorString());
                if ((i + 1) % every == 0)
                    batchUs.push_back(double(nowNs() - before) / 1e3);
            }
            const qint64 written = nowNs();
            if (!port.close())
                fatal(port.errorString());
            const qint64 closed = nowNs();
            expected += qint64(ScriptFrames) * frame.size();
            if (far.waitForCount(expected, nowNs() + 5'000'000'000) == 0)
                fatal(QStringLiteral("%1: %2 of %3 bytes arrived")
                          .arg(QLatin1String(line.name))
                          .arg(far.count())
                          .arg(expected));
            const Stats b = statsOf(batchUs);
            std::printf("  %-26s %5s %10.1f %14.1f %14.1f %10.1f\n", line.name,
                        every == ScriptFrames ? "end" : qPrintable(QString::number(every)),
                        double(written - start) / 1e3 / ScriptFrames, b.p50, b.p99,
                        double(closed - written) / 1e6);
            std::fflush(stdout);
        }
        std::vector<double> scriptMs;
        for (int run = 0; run < ScriptRuns; ++run) {
            const qint64 start = nowNs();
            MSComm port;
            port.setDevice(line.port);
            port.setSettings(QStringLiteral("38400,n,8,1"));
            if (!port.open() || !port.write(frame).ok() || !port.close())
                fatal(port.errorString());
            scriptMs.push_back(double(nowNs() - start) / 1e6);
            expected += frame.size();
            far.waitForCount(expected, nowNs() + 2'000'000'000);
        }
        std::printf("  %-26s one frame, open to close: %.1f ms\n", line.name, median(scriptMs));
        std::fflush(stdout);
    }
    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}
