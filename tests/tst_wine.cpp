#include "serial/DeviceLine.h"
#include "tests/support/Process.h"
#include "tests/support/Pty.h"
#include "tests/support/Wine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <termios.h>

// The Windows line code run for real: line-probe.exe, cross-built with
// mingw-w64 from serial/DeviceLineWin32.cpp, runs under wine on COM5, which
// the test's own wine prefix maps to a pseudo-terminal; the far end is read
// here. Wine on a pty has no transmit queue to show (cbOutQue reads 0) and
// no modem lines, so the queue poll after the write is only passed through,
// and the count that left a stalled write includes what the kernel held.
class tst_Wine : public QObject
{
    Q_OBJECT

    WinePrefix m_wine;

private slots:
    // A prefix of the test's own; the first start of wine in it takes tens
    // of seconds. Its server is kept for the rows and stopped at the end.
    void initTestCase()
    {
        QVERIFY2(QFile::exists(QUENDRA_LINE_PROBE),
                 "no " QUENDRA_LINE_PROBE ": mingw-w64 was not found when the build was "
                 "configured (g++-mingw-w64-x86-64, installed by make test)");
        const QString booted = m_wine.boot();
        QVERIFY2(booted.isEmpty(), qPrintable(booted));
    }

    // Frames of consecutive byte values through COM5. The pty starts at
    // 4800, so the rate the probe reports is the one it set; once it has
    // closed the port, the pty runs as before, XON/XOFF as another program
    // left it.
    void comPort_data()
    {
        QTest::addColumn<unsigned>("rate");
        QTest::addColumn<QString>("stopBits");
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("outcome"); // the probe's last line starts so

        const auto row = [](const char* name, unsigned rate, const char* stopBits, int frameSize,
                            int frames, const char* outcome) {
            QTest::newRow(name) << rate << stopBits << frameSize << frames << outcome;
        };
        row("every byte value, 57600, 1 stop bit", 57600, "1", 8, 32, "done");
        row("256-byte frame, 1200, 2 stop bits", 1200, "2", 256, 1, "done");
        row("a rate wine runs at 38400 is refused", 250000, "1", 8, 1,
            "refused: rate 250000 asked, the driver runs the line at 38400");
        row("1.5 stop bits kept as 2 are refused", 57600, "1.5", 8, 1,
            "refused: stop bits 1.5 asked, the driver keeps 2");
        // The pty holds a few KiB; the rest of the frame never leaves.
        row("far end never reads: cut short within the bound", 9600, "1", 262144, 1,
            "error: the line took no more of it in 2000 ms");
    }
    void comPort()
    {
        QFETCH(unsigned, rate);
        QFETCH(QString, stopBits);
        QFETCH(int, frameSize);
        QFETCH(int, frames);
        QFETCH(QString, outcome);

        Pty pty;
        QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
        termios line{};
        QVERIFY(::tcgetattr(pty.masterFd(), &line) == 0);
        ::cfsetspeed(&line, B4800);
        QVERIFY(::tcsetattr(pty.masterFd(), TCSANOW, &line) == 0);
        QVERIFY(m_wine.linkComPort(5, pty.devicePath()));

        const std::optional<LineSettings> settings =
            parseLineSettings(QStringLiteral("%1,n,8,%2").arg(rate).arg(stopBits));
        QVERIFY(settings);
        const int limitMs = DeviceLine::drainLimitMs(frameSize, *settings);
        const Finished probe = m_wine.run(QUENDRA_LINE_PROBE,
                                          {"COM5", QString::number(rate), stopBits,
                                           QString::number(limitMs), QString::number(frameSize),
                                           QString::number(frames)},
                                          30000 + limitMs);
        const QStringList lines =
            QString::fromLocal8Bit(probe.out).remove('\r').split('\n', Qt::SkipEmptyParts);
        QVERIFY2(probe.status >= 0 && !lines.isEmpty() && lines.last().startsWith(outcome),
                 qPrintable(lines.join('\n') + probe.err));

        const QByteArray arrived = pty.read(outcome == "done" ? 5000 : 300);
        const QByteArray expected = countingBytes(qsizetype(frameSize) * frames);
        if (outcome == "done") {
            QCOMPARE(arrived.toHex(' '), expected.toHex(' '));
            QVERIFY2(lines.contains(QStringLiteral("line: rate %1, XON/XOFF off").arg(rate)),
                     qPrintable(lines.join('\n')));
            QVERIFY(::tcgetattr(pty.masterFd(), &line) == 0);
            QCOMPARE(int(::cfgetospeed(&line)), int(B4800));
            QCOMPARE(uint(line.c_iflag & (IXON | IXOFF)), uint(IXON | IXOFF));
        } else if (outcome.startsWith("refused")) {
            QCOMPARE(arrived.toHex(' '), QByteArray());
        } else {
            // "frame 0: SENT of SIZE sent in MS ms": cut short within the
            // bound, and never claiming less than arrived.
            const QStringList words = lines.value(lines.size() - 2).split(' ');
            QCOMPARE(words.size(), 9);
            const qsizetype sent = words[2].toLongLong();
            QVERIFY2(words[7].toInt() < limitMs + 1000, qPrintable(lines.join('\n')));
            QVERIFY2(sent < frameSize && arrived.size() <= sent, qPrintable(lines.join('\n')));
            const QString discarded = QStringLiteral("%1 bytes discarded").arg(frameSize - sent);
            QVERIFY2(lines.last().endsWith(discarded), qPrintable(lines.join('\n')));
            QCOMPARE(arrived, expected.left(arrived.size()));
        }
    }
};

QTEST_GUILESS_MAIN(tst_Wine)
#include "tst_wine.moc"
