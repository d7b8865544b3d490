#include "tests/support/EmulatorProcess.h"
#include "tests/support/Panel.h"

#include <QFileInfo>

#include <csignal>

// The emulator program on its own pseudo-terminal behind a link, and the
// panel on that link, as `make run` wires them.
class tst_EmulatorLine : public QObject
{
    Q_OBJECT

private slots:
    // Every button the operator presses shows up as the emulator's log line
    // for that frame, one burst each.
    void everyButtonReachesTheModule()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("module.tty");
        QVERIFY(QFile::link("/dev/pts/no-such-terminal", link)); // left by a killed run
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", link, "--uid", "1"}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), emulator.device());
        Panel p("CommPort=1\nSetting=9600,n,8,1\nSlaveID=1\n[Ports]\nCOM1=" + link.toUtf8());
        const QList<QPair<QStringList, const char*>> steps = {
            {{"txtdata=HI", "cmdTransmit"}, "01 62 20 20 20 20 48 49  UID 1 text '    HI'"},
            {{"cboDP=5", "cmdDP"}, "01 63 05  UID 1 decimal points 5"},
            {{"cbolm4=12", "cbolm3=34", "cbolm2=56", "cbolm1=78", "optSigned", "cmdDecimal"},
             "01 65 12 34 56 78  UID 1 long signed 305419896, overflow: shows OFL"},
            {{"cboSeg6=FF", "cboSeg1=24", "cmdSEG"}, "01 61 FF 00 00 00 00 24  UID 1 segments"},
            {{"cmdDIM"},
             "01 6E FF 00 00 00 00 24  UID 1 brightness: dim (6 payload bytes ignored)"},
            {{"cboUID=7", "txtdata=AB", "cmdTransmit"},
             "07 62 20 20 20 20 41 42  text for UID 7, ignored"},
            {{"opt19200", "cboCuid=9", "cmdConfig"},
             "1E 1E 12 09  configuration: UID 1 -> 9, 19200 baud"},
            {{"cboUID=9", "cmdDIM"},
             "09 6E 1E 12 09  UID 9 brightness: full (3 payload bytes ignored)"},
        };
        for (const auto& [act, expected] : steps) {
            p.set(act);
            QCOMPARE(emulator.nextLine().mid(14), QString(expected)); // without its time
        }
        QCOMPARE(p.messages, QStringList());
        // Its link goes when it is told to end.
        ::kill(pid_t(emulator.process().processId()), SIGTERM);
        QVERIFY(emulator.finished());
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // A UID list on the command line puts one module per UID on the line
    // (what each module then does is the bus's own suite).
    void uidListMakesModules()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("module.tty");
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", link, "--uid", "1,2"}));
        Panel p("CommPort=1\nSetting=9600,n,8,1\nSlaveID=2\n[Ports]\nCOM1=" + link.toUtf8());
        p.set({"txtdata=HI", "cmdTransmit"});
        QCOMPARE(emulator.nextLine().mid(14), // without its time
                 QString("02 62 20 20 20 20 48 49  module 2 (UID 2): text '    HI'"));
        QCOMPARE(p.messages, QStringList());
    }

    // A plain file in the link's place is the user's: refused, exit 2, kept.
    void linkNeverReplacesAFile()
    {
        TestIni ini("[Settings]\n");
        EmulatorProcess emulator;
        QVERIFY(!emulator.start({"--pty", "--link", ini.filePath()}));
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitCode(), 2);
        QVERIFY(QFileInfo(ini.filePath()).isFile());
    }
};

QTEST_MAIN(tst_EmulatorLine)
#include "tst_emulator_line.moc"
