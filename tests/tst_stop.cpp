#include "tests/support/EmulatorProcess.h"
#include "tests/support/Process.h"
#include "tests/support/Pty.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/Watchdog.h"

#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int StartMs = 10000; // only a broken program takes this long to start

} // namespace

// Every program that holds a line, stopped by a signal at each point of a
// run, ends within its bound, and the next program then opens the same line.
class tst_Stop : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // Sends the signal once the program has taken it over.
    static bool stopsWithin(QProcess& p, int signal, int boundMs)
    {
        pollUntil(StartMs, [&] { return catches(p.processId(), signal); });
        ::kill(pid_t(p.processId()), signal);
        return p.waitForFinished(boundMs) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 128 + signal;
    }

    // The line let go as it was found, for the next program.
    static void nextOpens(Pty& pty)
    {
        QCOMPARE(exclusiveFlag(pty.devicePath()), 0);
        const Finished next = runToEnd(
            QUENDRA_SEND_PATH, {"--port", pty.devicePath(), "--uid", "1", "dp", "9"}, StartMs);
        QVERIFY2(next.status == 0, next.err.constData());
        QCOMPARE(pty.read().toHex(' '), QByteArray("01 63 09"));
    }

private slots:
    void send_data()
    {
        QTest::addColumn<QString>("server");    // its script; empty: a pty
        QTest::addColumn<QByteArray>("script"); // null: one frame; "-": standard input
        QTest::addColumn<QString>("until");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("boundMs");
        QTest::addColumn<QString>("says"); // FILE: the script; empty: counted
        const QByteArray twoFrames = "dp 1\ndp 2\n";
        QTest::newRow("reading the script from standard input")
            << "" << QByteArray("-") << "reading" << SIGINT << 2000
            << "interrupted while reading <stdin>: nothing sent (SIGINT)";
        // The open (about 0.5 s of the server's) is finished, then let go.
        QTest::newRow("opening, a script")
            << "slow-open 500" << twoFrames << "connected" << SIGTERM << 6000
            << "interrupted at FILE, before its first frame: 0 of 2 frames sent (SIGTERM)";
        QTest::newRow("opening, one frame")
            << "slow-open 500" << QByteArray() << "connected" << SIGTERM << 6000
            << "interrupted before the frame was sent: nothing sent (SIGTERM)";
        QTest::newRow("mid-script")
            << "" << QByteArray("dp 1\n").repeated(100000) << "frames" << SIGINT << 5000 << "";
        QTest::newRow("in a wait of a minute")
            << "" << QByteArray("dp 1\nwait 60000\ndp 2\n") << "waiting" << SIGTERM << 3000
            << "interrupted at FILE:2: 1 of 2 frames sent, 1 confirmed (SIGTERM)";
        // The confirmation under way (1 s of the server's) is waited for.
        QTest::newRow("confirming, rfc2217")
            << "late 1000" << QByteArray("dp 1\n").repeated(40) << "confirming" << SIGHUP << 6000
            << "interrupted at FILE:16: 16 of 40 frames sent, 16 confirmed (SIGHUP)";
    }
    void send()
    {
        QFETCH(QString, server);
        QFETCH(QByteArray, script);
        QFETCH(QString, until);
        QFETCH(int, signal);
        QFETCH(int, boundMs);
        QFETCH(QString, says);
        const Watchdog watchdog(3 * StartMs + boundMs);
        Pty pty;
        ScriptedServer scripted(server);
        const QString port = server.isEmpty() ? pty.devicePath() : scripted.portName();
        QString file = "<stdin>";
        QStringList args{"--port", port, "--uid", "1"};
        if (script.isNull())
            args += QStringList{"dp", "1"};
        else if (script == "-")
            args += QStringList{"--script", "-"};
        else
            args += QStringList{"--script",
                                file = writeFile(m_dir.filePath(QTest::currentDataTag()), script)};
        if (until == "waiting")
            args << "--verbose"; // each step said as it begins
        QProcess p;
        p.start(QUENDRA_SEND_PATH, args);
        QVERIFY(p.waitForStarted(StartMs));
        QByteArray got;
        if (until == "reading")
            p.write("dp 1\n"); // and more to come
        else if (until == "connected")
            QTRY_VERIFY_WITH_TIMEOUT(scripted.clients() == 1, StartMs);
        else if (until == "confirming")
            QTRY_VERIFY_WITH_TIMEOUT(scripted.received().size() >= qsizetype(16) * 3, StartMs);
        else if (until == "waiting") {
            QTRY_VERIFY_WITH_TIMEOUT((got += p.readAllStandardOutput()).contains("2: wait"),
                                     StartMs);
            got.clear();
        } else
            QVERIFY(!(got = pty.read(StartMs, 0)).isEmpty()); // the first frames, more to come
        QVERIFY(stopsWithin(p, signal, boundMs));
        for (QByteArray more; !(more = pty.read(100, 10)).isEmpty();)
            got += more;
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (says.isEmpty()) {
            // Whole frames only, as many as it says, and not all of them.
            static const QRegularExpression counted(
                "^quendra-send: interrupted at (.+):(\\d+): (\\d+) of 100000 frames sent, "
                "(\\d+) confirmed \\(SIGINT\\)\n$");
            const QRegularExpressionMatch m = counted.match(err);
            QVERIFY2(m.hasMatch() && m.captured(1) == file, qPrintable(err));
            const int frames = m.captured(3).toInt();
            QVERIFY(frames > 0 && frames < 100000);
            QCOMPARE(m.captured(2).toInt(), frames);
            QCOMPARE(m.captured(4).toInt(), frames);
            QCOMPARE(got, QByteArray::fromHex("016301").repeated(frames));
        } else {
            QCOMPARE(err, "quendra-send: " + says.replace("FILE", file) + "\n");
        }
        if (until == "waiting")
            QCOMPARE(got.toHex(' '), QByteArray("01 63 01"));
        if (until == "connected")
            QCOMPARE(scripted.received(), QByteArray());
        if (server.isEmpty())
            nextOpens(pty);
        else
            QCOMPARE(runToEnd(QUENDRA_SEND_PATH, {"--port", port, "--uid", "1", "dp", "9"}, StartMs)
                         .status,
                     0);
    }

    // A SIGHUP ignored from the start (nohup) stays ignored.
    void ignoredHangUp()
    {
        const Watchdog watchdog(3 * StartMs);
        Pty pty;
        const QString file = writeFile(m_dir.filePath("hup.txt"), "dp 1\nwait 1000\ndp 2\n");
        QProcess p;
        p.start("sh", {"-c", "trap '' HUP; exec \"$0\" \"$@\"", QUENDRA_SEND_PATH, "--port",
                       pty.devicePath(), "--uid", "1", "--script", file});
        QCOMPARE(pty.read(StartMs).toHex(' '), QByteArray("01 63 01"));
        ::kill(pid_t(p.processId()), SIGHUP);
        QVERIFY(p.waitForFinished(StartMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(pty.read().toHex(' '), QByteArray("01 63 02"));
    }

    // The panel closes as if its window were closed, a start-up message box
    // up or not; its port goes back as it was, rate included.
    void panel_data()
    {
        QTest::addColumn<bool>("portOpens");
        QTest::addColumn<int>("signal");
        QTest::newRow("start-up message box up") << false << SIGTERM;
        QTest::newRow("running, its port open") << true << SIGINT;
    }
    void panel()
    {
        QFETCH(bool, portOpens);
        QFETCH(int, signal);
        constexpr int BoundMs = 5000;
        const Watchdog watchdog(3 * StartMs);
        Pty pty;
        QTemporaryDir folder;
        QProcess p;
        QVERIFY(startWithIni(
            p, QUENDRA_PANEL_PATH, folder.path(),
            "[Settings]\nCommPort=1\nSetting=19200,n,8,1\nSlaveID=1\n[Ports]\nCOM1=" +
                (portOpens ? pty.devicePath().toUtf8() : "/dev/quendra-missing") + "\n"));
        if (portOpens)
            QTRY_VERIFY_WITH_TIMEOUT(holdsFile(p.processId(), pty.devicePath()), StartMs);
        QVERIFY(stopsWithin(p, signal, BoundMs));
        // Qt's own notes aside.
        const QStringList said = QString::fromUtf8(p.readAllStandardError())
                                     .split('\n', Qt::SkipEmptyParts)
                                     .filter(QRegularExpression("^quendra-panel: "));
        QCOMPARE(said.join('\n'),
                 QString("quendra-panel: stopped by %1%2")
                     .arg("SIG" + QString(::sigabbrev_np(signal)),
                          portOpens ? "; COM1 (" + pty.devicePath() + ") released" : QString()));
        QCOMPARE(ttySpeed(pty.devicePath()), int(B9600));
        nextOpens(pty);
    }

    // The emulator logs every frame it took, also those of a burst that has
    // not ended (frames less than 5 ms apart), then says it stopped.
    void emulator_data()
    {
        QTest::addColumn<bool>("onPort");
        QTest::newRow("its own pty, frames 1 ms apart") << false;
        QTest::newRow("on a port") << true;
    }
    void emulator()
    {
        QFETCH(bool, onPort);
        constexpr int BoundMs = 3000;
        const Watchdog watchdog(3 * StartMs);
        Pty pty;
        EmulatorProcess emulator;
        QVERIFY(emulator.start(onPort ? QStringList{"--port", pty.devicePath()}
                                      : QStringList{"--pty"}));
        QProcess& p = emulator.process();
        std::atomic<int> written{0};
        std::atomic<bool> writing{true};
        std::thread writer;
        int writtenBefore = 1;
        if (onPort) {
            QVERIFY(pty.write(QByteArray::fromHex("016301")));
            QCOMPARE(emulator.nextLine().mid(14), QString("01 63 01  UID 1 decimal points 1"));
        } else {
            const int line =
                ::open(QFile::encodeName(emulator.device()).constData(), O_WRONLY | O_NOCTTY);
            QVERIFY(line >= 0);
            writer = std::thread([&, line] {
                while (writing && ::write(line, "\x01\x63\x01", 3) == 3) {
                    ++written;
                    ::usleep(1000); // a frame a millisecond: the burst never ends
                }
                ::close(line);
            });
            QTRY_VERIFY_WITH_TIMEOUT(written >= 200, StartMs);
            writtenBefore = written;
        }
        const bool stopped = stopsWithin(p, SIGTERM, BoundMs);
        writing = false;
        if (writer.joinable())
            writer.join();
        QVERIFY(stopped);
        const QStringList lines =
            QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        static const QRegularExpression last("  stopped by SIGTERM after (\\d+) frames?$");
        const QRegularExpressionMatch m = last.match(lines.last());
        QVERIFY2(m.hasMatch(), qPrintable(lines.last()));
        const int frames = m.captured(1).toInt();
        QVERIFY2(frames >= writtenBefore, qPrintable(QString::number(frames)));
        QCOMPARE(int(lines.filter("01 63 01  UID 1 decimal points 1").size()), onPort ? 0 : frames);
        if (onPort)
            nextOpens(pty);
    }
};

QTEST_GUILESS_MAIN(tst_Stop)
#include "tst_stop.moc"
