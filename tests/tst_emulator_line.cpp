#include "EmulatorProcess.h"
#include "MSComm.h"
#include "Panel.h"

#include <QFileInfo>

#include <csignal>
#include <termios.h>

// The emulator program on its own pseudo-terminal, fed by the panel's port
// object or the panel itself through a link, as `make run` wires them.
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

    // No line, bad settings, a plain file in the link's place: exit status 2
    // and a reason, and the user's file is never removed.
    void refusals()
    {
        TestIni ini("[Settings]\n");
        const QList<QStringList> runs = {
            {}, {"--pty", "--settings", "fast"}, {"--pty", "--link", ini.filePath()}};
        for (const QStringList& arguments : runs) {
            EmulatorProcess emulator;
            QVERIFY(!emulator.start(arguments));
            QVERIFY(emulator.finished());
            QCOMPARE(emulator.process().exitCode(), 2);
            QVERIFY(!emulator.process().readAllStandardError().isEmpty());
        }
        QVERIFY(QFileInfo(ini.filePath()).isFile());
    }

    // The panel and the emulator on one line: every button the operator
    // presses shows up as the emulator's log line for that frame.
    void everyButtonReachesTheModule()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("module.tty");
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", link, "--uid", "1"}));
        // The first COM1 in the file wins over the fixture's own.
        Panel p("CommPort=1\nSetting=9600,n,8,1\nSlaveID=1\n[Ports]\nCOM1=" + link.toUtf8());
        QCOMPARE(p.messages, QStringList());
        const QList<QPair<QStringList, const char*>> steps = {
            {{"txtdata=HI", "cmdTransmit"}, "01 62 20 20 20 20 48 49  UID 1 text '    HI'"},
            {{"cboDP=5", "cmdDP"}, "01 63 05  UID 1 decimal points 5"},
            {{"cbolm4=12", "cbolm3=34", "cbolm2=56", "cbolm1=78", "optSigned", "cmdDecimal"},
             "01 65 12 34 56 78  UID 1 long signed 305419896, overflow: shows OFL"},
            {{"cbolm4=00", "cbolm3=0F", "cbolm2=42", "cbolm1=3F", "optUnsigned", "cmdDecimal"},
             "01 64 00 0F 42 3F  UID 1 long unsigned 999999"},
            {{"cbosi2=80", "cbosi1=00", "optSignedS", "cmdShort"},
             "01 67 80 00  UID 1 short signed -32768"},
            {{"optUnsignedS", "cmdShort"}, "01 66 80 00  UID 1 short unsigned 32768"},
            {{"cboSeg6=FF", "cboSeg5=01", "cboSeg4=80", "cboSeg3=40", "cboSeg2=02", "cboSeg1=24",
              "cmdSEG"},
             "01 61 FF 01 80 40 02 24  UID 1 segments"},
            {{"cmdDIM"},
             "01 6E FF 01 80 40 02 24  UID 1 brightness: dim (6 payload bytes ignored)"},
            {{"cboUID=7", "txtdata=AB", "cmdTransmit"},
             "07 62 20 20 20 20 41 42  text for UID 7, ignored"},
            {{"opt19200", "cboCuid=9", "cmdConfig"},
             "1E 1E 12 09  configuration: UID 1 -> 9, 19200 baud"},
            {{"cboUID=9", "cmdDIM"},
             "09 6E 1E 12 09  UID 9 brightness: full (3 payload bytes ignored)"},
        };
        for (const auto& [act, line] : steps) {
            p.set(act);
            QCOMPARE(emulator.nextLine().mid(14), QString(line)); // without its time
        }
        QCOMPARE(p.messages, QStringList());
    }
};

QTEST_MAIN(tst_EmulatorLine)
#include "tst_emulator_line.moc"
