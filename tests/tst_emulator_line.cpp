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

private:
    static QString linkIn(const TestIni& ini)
    {
        return ini.folder() + QStringLiteral("/module.tty");
    }
    static QByteArray portsIni(const QString& link)
    {
        return "[Ports]\nCOM1=" + link.toUtf8() + "\n";
    }
    static bool openPort(MSComm& port)
    {
        port.setCommPort(1);
        port.setSettings(QStringLiteral("9600,n,8,1"));
        return port.open();
    }

private slots:
    void framesArriveAsLogLines_data()
    {
        // One write each, and the log lines (without their time) it gives.
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QList<QStringList>>("lines");
        auto hex = [](const char* h) { return QByteArray::fromHex(h); };
        QTest::newRow("text HI") << QList<QByteArray>{hex("016220202020"
                                                          "4849")}
                                 << QList<QStringList>{
                                        {"01 62 20 20 20 20 48 49  UID 1 text '    HI'"}};
        QTest::newRow("two frames in one write")
            << QList<QByteArray>{hex("0166ffff0163"
                                     "01")}
            << QList<QStringList>{
                   {"01 66 FF FF  UID 1 short unsigned 65535", "01 63 01  UID 1 decimal points 1"}};
        QTest::newRow("another uid")
            << QList<QByteArray>{hex("07630a")}
            << QList<QStringList>{{"07 63 0A  decimal points for UID 7, ignored"}};
        QTest::newRow("malformed")
            << QList<QByteArray>{hex("0141")}
            << QList<QStringList>{{"01 41  malformed: unknown command code 0x41"}};
        QTest::newRow("configuration moves the module")
            << QList<QByteArray>{hex("1e1e1205"), hex("016e"), hex("056e")}
            << QList<QStringList>{{"1E 1E 12 05  configuration: UID 1 -> 5, 19200 baud"},
                                  {"01 6E  brightness for UID 1, ignored"},
                                  {"05 6E  UID 5 brightness: dim"}};
    }
    void framesArriveAsLogLines()
    {
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QList<QStringList>, lines);
        TestIni ini;
        ini.write(portsIni(linkIn(ini)));
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", linkIn(ini)}));
        QCOMPARE(QFileInfo(linkIn(ini)).symLinkTarget(), emulator.device());

        MSComm port;
        QVERIFY2(openPort(port), qPrintable(port.errorString()));
        const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
        for (int i = 0; i < writes.size(); ++i) {
            QVERIFY(port.write(writes[i]));
            // Each write is one burst: its lines come before the next write.
            QStringList got;
            for (int n = 0; n < lines[i].size(); ++n) {
                const QString line = emulator.nextLine();
                QVERIFY2(time.match(line).hasMatch(), qPrintable(line));
                got << line.mid(14);
            }
            QCOMPARE(got, lines[i]);
        }
    }

    // A device given with --port (here the far end of a pseudo-terminal) is
    // reopened at the rate a configuration frame names.
    void realDeviceFollowsConfiguration()
    {
        Pty pty;
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--port", pty.devicePath(), "--settings", "9600,n,8,1"}));
        QCOMPARE(emulator.device(), pty.devicePath());
        QVERIFY(pty.write(QByteArray::fromHex("1e1e1205")));
        QCOMPARE(emulator.nextLine().mid(14),
                 QStringLiteral("1E 1E 12 05  configuration: UID 1 -> 5, 19200 baud"));
        QVERIFY(pty.write(QByteArray::fromHex("056301")));
        QCOMPARE(emulator.nextLine().mid(14), QStringLiteral("05 63 01  UID 5 decimal points 1"));
        termios line{};
        QCOMPARE(::tcgetattr(pty.masterFd(), &line), 0);
        QCOMPARE(::cfgetospeed(&line), speed_t(B19200));
    }

    void linkGoesOnTerminate()
    {
        TestIni ini;
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", linkIn(ini)}));
        QVERIFY(QFileInfo(linkIn(ini)).isSymLink());
        ::kill(pid_t(emulator.process().processId()), SIGTERM);
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitStatus(), QProcess::NormalExit);
        QVERIFY(!QFileInfo(linkIn(ini)).isSymLink());
    }

    void staleLinkIsReplaced()
    {
        TestIni ini;
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-terminal"), linkIn(ini)));
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", linkIn(ini)}));
        QCOMPARE(QFileInfo(linkIn(ini)).symLinkTarget(), emulator.device());
    }

    void foreignFileIsLeftAlone_data()
    {
        QTest::addColumn<bool>("asLink");
        QTest::newRow("a plain file") << false;
        QTest::newRow("a link to a live file") << true;
    }
    void foreignFileIsLeftAlone()
    {
        QFETCH(bool, asLink);
        TestIni ini("[Settings]\n");
        if (asLink)
            QVERIFY(QFile::link(ini.filePath(), linkIn(ini)));
        else
            QVERIFY(QFile::copy(ini.filePath(), linkIn(ini)));
        EmulatorProcess emulator;
        QVERIFY(!emulator.start({"--pty", "--link", linkIn(ini)}));
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitCode(), 2);
        QVERIFY(emulator.process().readAllStandardError().contains("left alone"));
        QCOMPARE(QFileInfo(linkIn(ini)).isSymLink(), asLink);
        QVERIFY(QFileInfo::exists(linkIn(ini)));
    }

    void badArgumentsAreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no line") << QStringList{};
        QTest::newRow("both lines") << QStringList{"--pty", "--port", "/dev/null"};
        QTest::newRow("uid 256") << QStringList{"--pty", "--uid", "256"};
        QTest::newRow("uid text") << QStringList{"--pty", "--uid", "five"};
        QTest::newRow("settings") << QStringList{"--pty", "--settings", "fast"};
        QTest::newRow("link without pty") << QStringList{"--port", "/dev/null", "--link", "x"};
    }
    void badArgumentsAreRefused()
    {
        QFETCH(QStringList, arguments);
        EmulatorProcess emulator;
        QVERIFY(!emulator.start(arguments));
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitCode(), 2);
        QVERIFY(!emulator.process().readAllStandardError().isEmpty());
    }

    void gapIsThreeAndAHalfCharacters_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("gap");
        QTest::newRow("9600 8N1: 3.65 ms") << "9600,n,8,1" << 0 << 4;
        QTest::newRow("38400 8N1: 0.91 ms") << "38400,n,8,1" << 0 << 1;
        QTest::newRow("1200 8E2: 35 ms") << "1200,e,8,2" << 0 << 35;
        QTest::newRow("9600 on a pty floor")
            << "9600,n,8,1" << ModuleLine::PtyMinimumGapMs << ModuleLine::PtyMinimumGapMs;
    }
    void gapIsThreeAndAHalfCharacters()
    {
        QFETCH(QString, settings);
        QFETCH(int, minimum);
        QFETCH(int, gap);
        QCOMPARE(ModuleLine::gapFor(*parseLineSettings(settings), minimum), gap);
    }
};

QTEST_GUILESS_MAIN(tst_EmulatorLine)
#include "tst_emulator_line.moc"
