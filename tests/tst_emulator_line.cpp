#include "EmulatorProcess.h"
#include "MSComm.h"
#include "ModuleLine.h"
#include "Pty.h"
#include "TestIni.h"

#include <QFileInfo>
#include <QtTest>

#include <csignal>
#include <termios.h>

// The emulator program on its own pseudo-terminal, fed by the panel's port
// object through a link, as `make run` wires them.
class tst_EmulatorLine : public QObject
{
    Q_OBJECT

private slots:
    // Each write is one burst: its log lines (without their time) come
    // before the next write.
    void framesArriveAsLogLines()
    {
        TestIni ini;
        const QString link = ini.folder() + "/module.tty";
        // A link left by a killed run is replaced.
        QVERIFY(QFile::link("/dev/pts/no-such-terminal", link));
        ini.write("[Ports]\nCOM1=" + link.toUtf8() + "\n");
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", link}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), emulator.device());

        MSComm port;
        port.setCommPort(1);
        port.setSettings("9600,n,8,1");
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        const QList<QPair<const char*, QStringList>> writes = {
            {"0166ffff016301",
             {"01 66 FF FF  UID 1 short unsigned 65535", "01 63 01  UID 1 decimal points 1"}},
            {"0141", {"01 41  malformed: unknown command code 0x41"}},
            {"1e1e1205", {"1E 1E 12 05  configuration: UID 1 -> 5, 19200 baud"}},
            {"016e", {"01 6E  brightness for UID 1, ignored"}},
            {"056e", {"05 6E  UID 5 brightness: dim"}}};
        const QRegularExpression time(R"(^\d\d:\d\d:\d\d\.\d\d\d  )");
        for (const auto& [hex, lines] : writes) {
            QVERIFY(port.write(QByteArray::fromHex(hex)));
            for (const QString& expected : lines) {
                const QString line = emulator.nextLine();
                QVERIFY2(time.match(line).hasMatch(), qPrintable(line));
                QCOMPARE(line.mid(14), expected);
            }
        }

        // Its link goes when it is told to end.
        ::kill(pid_t(emulator.process().processId()), SIGTERM);
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitStatus(), QProcess::NormalExit);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // A device given with --port is reopened at the rate a configuration
    // frame names.
    void realDeviceFollowsConfiguration()
    {
        Pty pty;
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--port", pty.devicePath(), "--settings", "9600,n,8,1"}));
        QVERIFY(pty.write(QByteArray::fromHex("1e1e1205")));
        QCOMPARE(emulator.nextLine().mid(14),
                 QString("1E 1E 12 05  configuration: UID 1 -> 5, 19200 baud"));
        QVERIFY(pty.write(QByteArray::fromHex("056301")));
        QCOMPARE(emulator.nextLine().mid(14), QString("05 63 01  UID 5 decimal points 1"));
        termios line{};
        QCOMPARE(::tcgetattr(pty.masterFd(), &line), 0);
        QCOMPARE(::cfgetospeed(&line), speed_t(B19200));
    }

    // Exit status 2 and a reason; a file of the user's in the link's place
    // is never removed.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no line") << QStringList{};
        QTest::newRow("settings") << QStringList{"--pty", "--settings", "fast"};
        QTest::newRow("a plain file at the link") << QStringList{"--pty", "--link", "@"};
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        TestIni ini("[Settings]\n");
        arguments.replaceInStrings("@", ini.filePath());
        EmulatorProcess emulator;
        QVERIFY(!emulator.start(arguments));
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitCode(), 2);
        QVERIFY(!emulator.process().readAllStandardError().isEmpty());
        QVERIFY(QFileInfo(ini.filePath()).isFile());
    }

    // Three and a half characters of silence end a burst.
    void gap_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("gap");
        QTest::newRow("9600 8N1: 3.65 ms") << "9600,n,8,1" << 0 << 4;
        QTest::newRow("1200 8E2: 35 ms") << "1200,e,8,2" << 0 << 35;
        QTest::newRow("pty floor")
            << "38400,n,8,1" << ModuleLine::PtyMinimumGapMs << ModuleLine::PtyMinimumGapMs;
    }
    void gap()
    {
        QFETCH(QString, settings);
        QFETCH(int, minimum);
        QFETCH(int, gap);
        QCOMPARE(ModuleLine::gapFor(*parseLineSettings(settings), minimum), gap);
    }
};

QTEST_GUILESS_MAIN(tst_EmulatorLine)
#include "tst_emulator_line.moc"
