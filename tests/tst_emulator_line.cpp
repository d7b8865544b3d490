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
    // Buttons the operator presses show up as the emulator's log lines for
    // their frames, one burst each, from each module of a UID list; after a
    // configuration the emulator's line runs at the new rate and still hears.
    // (What each module makes of a frame is the bus's and the state's suite.)
    void buttonsReachTheModules()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("module.tty");
        QVERIFY(QFile::link("/dev/pts/no-such-terminal", link)); // left by a killed run
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", link, "--uid", "1,2"}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), emulator.device());
        Panel p("CommPort=1\nSetting=9600,n,8,1\nSlaveID=2\n[Ports]\nCOM1=" + link.toUtf8());
        const std::pair<QStringList, const char*> steps[] = {
            {{"txtdata=HI", "cmdTransmit"},
             "02 62 20 20 20 20 48 49  module 2 (UID 2): text '    HI'"},
            {{"cmdDIM"},
             "02 6E 20 20 20 20 48 49  module 2 (UID 2): brightness: dim (6 payload bytes "
             "ignored)"},
            {{"opt19200", "cboCuid=9", "cmdConfig"},
             "1E 1E 12 09  module 1 (UID 1): configuration: UID 1 -> 9, 19200 baud\n"
             "1E 1E 12 09  module 2 (UID 2): configuration: UID 2 -> 9, 19200 baud\n"
             "  2 modules now share UID 9"},
            {{"cboUID=9", "cmdDIM"},
             "09 6E 1E 12 09  module 1 (UID 9): brightness: dim (3 payload bytes ignored) (2 "
             "modules share UID 9: each took it)\n"
             "09 6E 1E 12 09  module 2 (UID 9): brightness: full (3 payload bytes ignored) (2 "
             "modules share UID 9: each took it)"},
        };
        for (const auto& [act, expected] : steps) {
            p.set(act);
            QStringList got;
            while (got.size() <= QString(expected).count('\n'))
                got << emulator.nextLine().mid(14); // without its time
            QCOMPARE(got.join('\n'), QString(expected));
        }
        QCOMPARE(p.messages, QStringList());
        // Its link goes when it is told to end.
        ::kill(pid_t(emulator.process().processId()), SIGTERM);
        QVERIFY(emulator.finished());
        QVERIFY(!QFileInfo(link).isSymLink());
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
