#include "EmulatorProcess.h"
#include "LogLine.h"
#include "Panel.h"
#include "modINI.h"
#include "modVariable.h"

#include <QSerialPort>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString NotAvailable = QStringLiteral("Selected Port Not Available");
const QString NotOpen = QStringLiteral("Nothing sent: the port is not open");
const QByteArray Usual9 =
    "[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=9\n[Ports]\nCOM1=@PTY@\n";

// Bytes waiting on a terminal that no one has read yet.
int unreadBytes(int fd)
{
    int n = -1;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}
} // namespace

// What the panel and the emulator do when their surroundings go wrong: a
// settings file that is not a readable text file, a port another program
// already holds, a device that goes away while in use, and a long unbroken
// stream of frames.
class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    // file: the settings file's bytes ("@PTY@" for COM1's device), or "@kind"
    // for something that is not a plain file; expected: CommPort|Setting|SlaveID.
    void brokenSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        constexpr qsizetype MB = qsizetype(1024) * 1024;
        const QString none = "||";
        const QString usual = "1|9600,n,8,1|9";
        QTest::newRow("no file at all") << QByteArray("@none") << none;
        QTest::newRow("folder named quendra.ini") << QByteArray("@folder") << none;
        // Opening a pipe for reading would wait for a writer forever.
        QTest::newRow("pipe named quendra.ini") << QByteArray("@pipe") << none;
        // A device that never ends would fill the memory.
        QTest::newRow("link to /dev/zero") << QByteArray("@zero") << none;
        QTest::newRow("link to itself") << QByteArray("@loop") << none;
        QTest::newRow("no read permission") << QByteArray("@unreadable") << none;
        QByteArray binary; // every byte value, in no order a text editor would write
        for (int i = 0; i < 65536; ++i)
            binary += char(i * 131 + i / 256);
        QTest::newRow("binary") << binary << none;
        QTest::newRow("binary around the settings")
            << QByteArray::fromHex("00fffe0d0a5b00") + "\n" + Usual9 +
                   QByteArray::fromHex("0001020300")
            << usual;
        // Saved as "Unicode" by a Windows editor: no byte line reads as a key.
        QTest::newRow("UTF-16 with byte-order mark")
            << QByteArray::fromHex("fffe5b00530065007400740069006e0067007300"
                                   "5d000d000a0043006f006d006d0050006f00720074003d0031000d000a00")
            << none;
        QTest::newRow("10 MB before the settings")
            << "[Other]\n" + QByteArray("Key=some value that is not wanted\n").repeated(300000) +
                   Usual9
            << usual;
        QTest::newRow("2 MB of [") << QByteArray(2 * MB, '[') << none;
        QTest::newRow("10 MB without a line break") << QByteArray(10 * MB, 'x') << none;
        const QByteArray longLine(qsizetype(100) * 1024, '9');
        QTest::newRow("100 KB value")
            << "[Settings]\nCommPort=1\nSetting=" + longLine + "\nSlaveID=7\n[Ports]\nCOM1=@PTY@\n"
            << "1|" + QString(254, '9') + "|7";
        QTest::newRow("100 KB comment") << ";" + longLine + "\n" + Usual9 << usual;
    }
    void brokenSettingsFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        Panel p(QByteArray{});
        const QString path = p.ini.filePath();
        if (file == "@folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (file == "@pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        } else if (file == "@zero") {
            QVERIFY(QFile::link("/dev/zero", path));
        } else if (file == "@loop") {
            QVERIFY(QFile::link(path, path));
        } else if (file == "@unreadable") {
            if (::geteuid() == 0)
                QSKIP("running as root: a file without read permission is still readable");
            p.ini.write(Usual9);
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        } else if (file != "@none") {
            p.ini.write(file.replace("@PTY@", p.ptys[0].devicePath().toUtf8()));
        }
        QStringList read;
        for (const char* key : {"CommPort", "Setting", "SlaveID"})
            read << modINI::ReadINI("Settings", key);
        QCOMPARE(read.join('|'), expected);

        p.start();
        const bool opens = expected == "1|9600,n,8,1|9";
        QCOMPARE(p.window->port().isOpen(), opens);
        QCOMPARE(p.messages, opens ? QStringList() : QStringList{"COMM PORT ERROR"});
        QVERIFY(opens || !p.details[0].isEmpty());
        QCOMPARE(modVariable::strSlaveID, expected.section('|', 2));
        // The lists are filled whatever became of the file, for a port chosen later.
        QCOMPARE(p.list("cboSeg1")->count() + p.list("cboCuid")->count(), 512);
    }

    // Another program holds a port: a menu choice of it, a baud rate then,
    // and a start-up on it are each told; nothing reaches either line, and
    // once the port is free a menu choice opens it.
    void portHeldByAnotherProgram()
    {
        Panel p;
        QSerialPort holder(p.ptys[1].devicePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        p.choose("mnuCOM_2");
        p.choose("mnuBR_2");
        QCOMPARE(p.messages, QStringList(2, NotAvailable));
        QVERIFY2(p.details[0].contains(p.ptys[1].devicePath()), qPrintable(p.details[0]));
        QVERIFY(!p.window->port().isOpen() && !p.window->port().write("\x05\x6e"));
        p.choose("mnuCOM_1");
        QCOMPARE(p.messages.size(), 2);
        p.press("cmdDP");
        QCOMPARE(p.line().toHex(' '), QByteArray("05 63 00"));

        p.ini.write(p.iniFor("CommPort=2\nSetting=9600,n,8,1\nSlaveID=5"));
        p.start();
        QCOMPARE(p.messages, QStringList{"COMM PORT ERROR"});
        QVERIFY2(p.details[0].contains(p.ptys[1].devicePath()), qPrintable(p.details[0]));
        QCOMPARE(p.list("cboSeg1")->count(), 256);
        holder.close();
        p.choose("mnuCOM_2");
        QCOMPARE(p.messages.size(), 1);
        p.press("cmdDP");
        QCOMPARE(p.line(2).toHex(' '), QByteArray("05 63 00"));
    }

    // The device goes away between frames: no crash, each later action gives
    // one message and no more come on their own, and choosing the port again
    // brings whole frames back.
    void deviceVanishesMidSession_data()
    {
        QTest::addColumn<QStringList>("actions"); // taken in turn
        QTest::addColumn<QString>("first");       // the first action's message
        QTest::addColumn<QString>("later");       // every later one's
        QTest::addColumn<QByteArray>("dim");      // brightness on a fresh device
        // Brightness carries the payload of the last press, sent or not.
        QTest::newRow("button presses") << QStringList{"cmdDIM", "cmdSEG"}
                                        << QString("Frame not sent: the port failed and was closed")
                                        << NotOpen << QByteArray::fromHex("056e000000000000");
        QTest::newRow("baud rate menu")
            << QStringList{"mnuBR_1", "mnuBR_2", "mnuBR_3"} << NotAvailable << NotAvailable
            << QByteArray::fromHex("056e00");
        QTest::newRow("port menu") << QStringList{"mnuCOM_1"} << NotAvailable << NotAvailable
                                   << QByteArray::fromHex("056e00");
    }
    void deviceVanishesMidSession()
    {
        QFETCH(QStringList, actions);
        QFETCH(QString, first);
        QFETCH(QString, later);
        QFETCH(QByteArray, dim);
        Panel p;
        p.press("cmdDP");
        QCOMPARE(p.line().toHex(' '), QByteArray("05 63 00"));
        p.ptys[0].vanish();
        QTest::qWait(100); // left to the event loop, a failing device may say so once
        QVERIFY(p.messages.size() <= 1);
        const qsizetype before = p.messages.size();
        constexpr int Actions = 20;
        for (int i = 0; i < Actions; ++i) {
            const QString& action = actions[i % actions.size()];
            action.startsWith("mnu") ? p.choose(action) : p.press(action);
            QVERIFY(!p.window->port().isOpen());
        }
        QTest::qWait(100);
        QCOMPARE(p.messages.size(), before + Actions);
        QCOMPARE(p.messages.mid(1), QStringList(p.messages.size() - 1, later));
        if (before == 0)
            QCOMPARE(p.messages.front(), first);
        QCOMPARE(p.get<QPushButton>("cmdDIM")->text(), QString("Dim"));

        Pty fresh;
        p.ini.write("[Ports]\nCOM1=" + fresh.devicePath().toUtf8() + "\n");
        p.choose("mnuCOM_1");
        p.press("cmdDIM");
        QCOMPARE(fresh.read().toHex(' '), dim.toHex(' '));
        QCOMPARE(p.messages.size(), before + Actions);
    }

    // The emulator's device goes away: a frame that had arrived is still
    // logged, the failure after it, and a headless emulator ends with
    // status 3 rather than staying behind with no line.
    void emulatorLineVanishes()
    {
        Pty pty;
        // The emulator must not inherit the far end, or the line never goes.
        QCOMPARE(::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC), 0);
        // The frame waits before the emulator starts, so the moment it has
        // been read is known; ten idle seconds end it, so the line goes first.
        QVERIFY(pty.write(QByteArray::fromHex("016301")));
        const int slave = ::open(QFile::encodeName(pty.devicePath()).constData(),
                                 O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(slave >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(unreadBytes(slave), 3, EmulatorProcess::WaitMs);
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--port", pty.devicePath(), "--gap", "10000"}));
        QTRY_COMPARE_WITH_TIMEOUT(unreadBytes(slave), 0, EmulatorProcess::WaitMs);
        ::close(slave);
        pty.vanish();

        QCOMPARE(emulator.nextLine().mid(14), QString("01 63 01  UID 1 decimal points 1"));
        const QString failure = emulator.nextLine();
        QVERIFY2(failure.contains("line failed: " + pty.devicePath()), qPrintable(failure));
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.process().exitCode(), 3);
        QCOMPARE(emulator.process().readAll(), QByteArray());
    }

    // Ten thousand frames back to back reach the emulator whole and in
    // order, one log line each. Runs of 250 go without a pause, so each run
    // is one burst for the emulator to take apart; through the port, the
    // last frame of a run is brightness, which takes the rest of its burst.
    void tenThousandFramesInOrder_data()
    {
        QTest::addColumn<bool>("buttons");
        QTest::newRow("panel buttons") << true;
        QTest::newRow("port writes") << false;
    }
    void tenThousandFramesInOrder()
    {
        QFETCH(bool, buttons);
        QTemporaryDir dir;
        const QString link = dir.filePath("module.tty");
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", link, "--uid", "any"}));
        Panel p("CommPort=1\nSetting=9600,n,8,1\nSlaveID=9\n[Ports]\nCOM1=" + link.toUtf8());
        QVERIFY2(p.window->port().isOpen(), qPrintable(p.window->port().errorString()));

        constexpr int Frames = 10000;
        constexpr int Run = 250;
        int logged = 0;
        for (int start = 0; start < Frames; start += Run) {
            QList<QByteArray> sent;
            for (int i = start; i < start + Run; ++i) {
                const QByteArray number = QByteArray::number(i).rightJustified(6, ' ');
                const QByteArray frames[] = {
                    QByteArray::fromHex("0962") + number,
                    QByteArray::fromHex("0963") + char(i % 64),
                    QByteArray::fromHex("0965") + char(i >> 24) + char(i >> 16) + char(i >> 8) +
                        char(i),
                    QByteArray::fromHex("0967") + char(i >> 8) + char(i),
                    QByteArray::fromHex("0961") + number,
                    QByteArray::fromHex("1e1e1209"), // keeps its UID, takes 19200 baud
                    QByteArray::fromHex("096e") + number};
                if (buttons) {
                    p.get<QLineEdit>("txtdata")->setText(QString::number(i));
                    p.list("cboDP")->setCurrentIndex(i % 64);
                    p.press(i % 2 ? "cmdDP" : "cmdTransmit");
                    sent << frames[i % 2];
                } else {
                    sent << frames[i == start + Run - 1 ? 6 : i % 6];
                    QVERIFY(p.window->port().write(sent.back()));
                }
            }
            for (const QByteArray& frame : sent) {
                const QString line = emulator.nextLine();
                QVERIFY2(line.mid(14).startsWith(hexBytes(frame) + "  "),
                         qPrintable(QString("frame %1: %2").arg(logged).arg(line)));
                ++logged;
            }
        }
        QCOMPARE(logged, Frames);
        QVERIFY(!emulator.printsWithin(100));
        QCOMPARE(p.messages, QStringList());
    }
};

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
