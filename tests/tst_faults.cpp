#include "EmulatorProcess.h"
#include "LogLine.h"
#include "MSComm.h"
#include "Pty.h"
#include "TestIni.h"
#include "frmMain.h"
#include "modINI.h"
#include "modVariable.h"
#include "protocol.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QtTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// What the panel and the emulator do when their surroundings go wrong: a
// settings file that is not a readable text file, a port another program
// already holds, a device that goes away while in use, and a long unbroken
// stream of frames.
class tst_Faults : public QObject
{
    Q_OBJECT

public:
    // How the settings file is broken in a row.
    enum class FileFault
    {
        Content,
        Folder,
        Fifo,
        LinkToDevice,
        LinkLoop,
        NoPermission
    };
    Q_ENUM(FileFault)

    // What the operator does once the device has gone.
    enum class Action
    {
        Press,
        BaudMenu,
        PortMenu
    };
    Q_ENUM(Action)

private:
    struct Message
    {
        QString text;
        QString detail;
    };

    static MessageSink recorder(QList<Message>& into)
    {
        return [&into](const QString& text, const QString& detail) { into.append({text, detail}); };
    }

    static QByteArray settingsFor(const QString& com1, const QString& com2 = {})
    {
        QByteArray ini = "[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=9\n"
                         "[Ports]\nCOM1=" +
                         com1.toUtf8() + "\n";
        if (!com2.isEmpty())
            ini += "COM2=" + com2.toUtf8() + "\n";
        return ini;
    }

    // Start-up fills every list whatever became of the settings, so that a
    // port chosen later finds the buttons ready.
    static void verifyListsFilled(const frmMain& window)
    {
        const std::pair<const char*, int> lists[] = {
            {"cboUID", 256}, {"cboCuid", 256}, {"cboDP", 64}, {"cbolm4", 256}, {"cboSeg1", 256}};
        for (const auto& [name, count] : lists) {
            const auto* box = window.findChild<QComboBox*>(QLatin1String(name));
            QVERIFY2(box, name);
            QCOMPARE(box->count(), count);
        }
    }

    // Bytes of every value, in an order no text editor would write.
    static QByteArray binaryNoise(qsizetype size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        quint32 state = 12345;
        for (char& b : bytes) {
            state = state * 1103515245u + 12345u;
            b = char(state >> 24);
        }
        return bytes;
    }

    static void click(const frmMain& window, const char* button)
    {
        auto* found = window.findChild<QPushButton*>(QLatin1String(button));
        QVERIFY2(found, button);
        found->click();
    }

    // Bytes waiting on a terminal that no one has read yet.
    static int unreadBytes(int fd)
    {
        int n = -1;
        return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
    }

    static QByteArray utf16le(const QString& text)
    {
        QByteArray bytes;
        for (QChar c : text)
            bytes += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
        return bytes;
    }

private slots:
    void init()
    {
        modVariable::strCommPort.clear();
        modVariable::strSettings.clear();
        modVariable::strSlaveID.clear();
    }

    void brokenSettingsFile_data()
    {
        constexpr qsizetype KB = 1024;
        constexpr qsizetype MB = 1024 * KB;
        QTest::addColumn<FileFault>("fault");
        QTest::addColumn<QByteArray>("content"); // "@PTY@" stands for the pty's path
        QTest::addColumn<QString>("commPort");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("slaveId");
        QTest::addColumn<bool>("portOpens");

        const QByteArray usual = "[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=9\n"
                                 "[Ports]\nCOM1=@PTY@\n";
        QTest::newRow("folder named quendra.ini") << FileFault::Folder << QByteArray() << ""
                                                  << ""
                                                  << "" << false;
        // Opening a pipe for reading would wait for a writer forever.
        QTest::newRow("pipe named quendra.ini") << FileFault::Fifo << QByteArray() << ""
                                                << ""
                                                << "" << false;
        // A device that never ends would fill the memory.
        QTest::newRow("link to /dev/zero") << FileFault::LinkToDevice << QByteArray() << ""
                                           << ""
                                           << "" << false;
        QTest::newRow("link to itself") << FileFault::LinkLoop << QByteArray() << ""
                                        << ""
                                        << "" << false;
        QTest::newRow("no read permission") << FileFault::NoPermission << usual << ""
                                            << ""
                                            << "" << false;

        QTest::newRow("binary") << FileFault::Content << binaryNoise(64 * KB) << ""
                                << ""
                                << "" << false;
        QTest::newRow("binary around the settings")
            << FileFault::Content
            << QByteArray::fromHex("00fffe0d0a5b00") + "\n" + usual +
                   QByteArray::fromHex("0001020300")
            << "1"
            << "9600,n,8,1"
            << "9" << true;
        // Saved as "Unicode" by a Windows editor: no byte line reads as a key.
        QTest::newRow("UTF-16 with byte-order mark")
            << FileFault::Content
            << QByteArray::fromHex("fffe") + utf16le(QStringLiteral("[Settings]\r\nCommPort=1\r\n"))
            << ""
            << ""
            << "" << false;

        QByteArray manyLines;
        manyLines.reserve(10 * MB + 200);
        manyLines += "[Other]\n";
        while (manyLines.size() < 10 * MB)
            manyLines += "Key=some value that is not wanted\n";
        QTest::newRow("10 MB before the settings") << FileFault::Content << manyLines + usual << "1"
                                                   << "9600,n,8,1"
                                                   << "9" << true;
        QTest::newRow("10 MB without a line break")
            << FileFault::Content << QByteArray(10 * MB, 'x') << ""
            << ""
            << "" << false;

        const QByteArray longLine(100 * KB, '9');
        QTest::newRow("100 KB value")
            << FileFault::Content
            << "[Settings]\nCommPort=1\nSetting=" + longLine + "\nSlaveID=7\n[Ports]\nCOM1=@PTY@\n"
            << "1" << QString(254, QLatin1Char('9')) << "7" << false;
        QTest::newRow("100 KB comment")
            << FileFault::Content << ";" + longLine + "\n" + usual << "1"
            << "9600,n,8,1"
            << "9" << true;
    }
    void brokenSettingsFile()
    {
        QFETCH(FileFault, fault);
        QFETCH(QByteArray, content);
        QFETCH(QString, commPort);
        QFETCH(QString, setting);
        QFETCH(QString, slaveId);
        QFETCH(bool, portOpens);

        Pty pty;
        QVERIFY(pty.isValid());
        TestIni ini;
        const QString path = ini.filePath();
        const QByteArray file = QByteArray(content).replace("@PTY@", pty.devicePath().toUtf8());
        switch (fault) {
        case FileFault::Content:
            ini.write(file);
            break;
        case FileFault::Folder:
            QVERIFY(QDir().mkdir(path));
            break;
        case FileFault::Fifo:
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
            break;
        case FileFault::LinkToDevice:
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
            break;
        case FileFault::LinkLoop:
            QVERIFY(QFile::link(path, path));
            break;
        case FileFault::NoPermission:
            if (::geteuid() == 0)
                QSKIP("running as root: a file without read permission is still readable");
            ini.write(file);
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            break;
        }

        const QString section = QStringLiteral("Settings");
        QCOMPARE(modINI::ReadINI(section, QStringLiteral("CommPort")), commPort);
        QCOMPARE(modINI::ReadINI(section, QStringLiteral("Setting")), setting);
        QCOMPARE(modINI::ReadINI(section, QStringLiteral("SlaveID")), slaveId);

        QList<Message> messages;
        frmMain window(recorder(messages));
        QCOMPARE(window.port().isOpen(), portOpens);
        if (portOpens) {
            QCOMPARE(messages.size(), 0);
        } else {
            QCOMPARE(messages.size(), 1);
            QCOMPARE(messages[0].text, QStringLiteral("COMM PORT ERROR"));
            QVERIFY(!messages[0].detail.isEmpty());
        }
        QCOMPARE(modVariable::strSlaveID, slaveId);
        verifyListsFilled(window);
    }

    // Another program holds the port when the panel starts: the operator is
    // told, the window comes up, and once the port is free a menu choice
    // opens it.
    void portHeldAtStartUp()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        TestIni ini(settingsFor(pty.devicePath()));
        QSerialPort holder(pty.devicePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));

        QList<Message> messages;
        frmMain window(recorder(messages));
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].text, QStringLiteral("COMM PORT ERROR"));
        QVERIFY2(messages[0].detail.contains(pty.devicePath()), qPrintable(messages[0].detail));
        QVERIFY(!window.port().isOpen());
        verifyListsFilled(window);

        holder.close();
        window.mnuCOM_Click(1);
        QCOMPARE(messages.size(), 1);
        QVERIFY(window.port().isOpen());
        const QByteArray frame = QByteArray::fromHex("096e");
        QVERIFY(window.port().write(frame));
        QCOMPARE(pty.read().toHex(' '), frame.toHex(' '));
    }

    // The operator picks a port another program holds: told so, the port
    // stays closed and nothing reaches either line; going back to the
    // first port works.
    void portHeldAtMenuChoice()
    {
        Pty first;
        Pty held;
        QVERIFY(first.isValid() && held.isValid());
        TestIni ini(settingsFor(first.devicePath(), held.devicePath()));
        QSerialPort holder(held.devicePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));

        QList<Message> messages;
        frmMain window(recorder(messages));
        QCOMPARE(messages.size(), 0);
        QVERIFY(window.port().isOpen());

        window.mnuCOM_Click(2);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].text, QStringLiteral("Selected Port Not Available"));
        QVERIFY2(messages[0].detail.contains(held.devicePath()), qPrintable(messages[0].detail));
        QVERIFY(!window.port().isOpen());
        QVERIFY(!window.port().write(QByteArray::fromHex("096e")));

        // A baud rate chosen while the port is held fails the same way.
        window.mnuBR_Click(2);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[1].text, QStringLiteral("Selected Port Not Available"));
        QVERIFY(!window.port().isOpen());

        window.mnuCOM_Click(1);
        QCOMPARE(messages.size(), 2);
        QVERIFY(window.port().isOpen());
        const QByteArray frame = QByteArray::fromHex("09620000000000");
        QVERIFY(window.port().write(frame));
        QCOMPARE(first.read().toHex(' '), frame.toHex(' '));
        QVERIFY(held.read(100).isEmpty());
    }
    // The device goes away between frames while the panel runs: no crash,
    // the port ends up closed, each operator action afterwards gives one
    // message and no more (none come on their own), and choosing a port
    // again from the menu brings whole frames back.
    void deviceVanishesMidSession_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("first"); // the message of the first action
        QTest::addColumn<QString>("later"); // the message of every later one
        const QString notSent = QStringLiteral("Frame not sent: the port failed and was closed");
        const QString notOpen = QStringLiteral("Nothing sent: the port is not open");
        const QString notAvailable = QStringLiteral("Selected Port Not Available");
        QTest::newRow("button presses") << Action::Press << notSent << notOpen;
        QTest::newRow("baud rate menu") << Action::BaudMenu << notAvailable << notAvailable;
        QTest::newRow("port menu") << Action::PortMenu << notAvailable << notAvailable;
    }
    void deviceVanishesMidSession()
    {
        QFETCH(Action, action);
        QFETCH(QString, first);
        QFETCH(QString, later);

        Pty pty;
        QVERIFY(pty.isValid());
        TestIni ini(settingsFor(pty.devicePath()));
        QList<Message> messages;
        frmMain window(recorder(messages));
        window.show();
        QVERIFY(window.port().isOpen());
        click(window, "cmdDP");
        QCOMPARE(pty.read().toHex(' '), QByteArray::fromHex("096300").toHex(' '));

        pty.vanish();
        // Left to the event loop, a failing device may say so once.
        QTest::qWait(100);
        QVERIFY2(messages.size() <= 1, qPrintable(QString::number(messages.size())));
        const qsizetype before = messages.size();

        constexpr int Actions = 20;
        for (int i = 0; i < Actions; ++i) {
            switch (action) {
            case Action::Press:
                click(window, i % 2 ? "cmdSEG" : "cmdDP");
                break;
            case Action::BaudMenu:
                window.mnuBR_Click(1 + i % 3);
                break;
            case Action::PortMenu:
                window.mnuCOM_Click(1);
                break;
            }
            QVERIFY(!window.port().isOpen());
        }
        QTest::qWait(100);
        QCOMPARE(messages.size(), before + Actions);
        if (before == 0)
            QCOMPARE(messages.front().text, first);
        QCOMPARE(messages.back().text, later);
        for (qsizetype i = 1; i < messages.size(); ++i)
            QCOMPARE(messages[i].text, later);

        Pty fresh;
        QVERIFY(fresh.isValid());
        ini.write(settingsFor(fresh.devicePath()));
        window.mnuCOM_Click(1);
        QCOMPARE(messages.size(), before + Actions);
        QVERIFY(window.port().isOpen());
        click(window, "cmdDP");
        QCOMPARE(fresh.read().toHex(' '), QByteArray::fromHex("096300").toHex(' '));
    }

    // The emulator's device goes away: a frame that had arrived is still
    // logged, the failure is logged after it, and a headless emulator ends
    // with status 3 rather than staying behind with no line.
    void emulatorLineVanishes()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        // The emulator must not inherit the far end: the line would never
        // go away while it holds it itself.
        QCOMPARE(::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC), 0);
        // A frame waits on the line before the emulator starts, so that the
        // moment it has been read is known: nothing is left unread. It ends
        // only after ten idle seconds, so the line goes first.
        const QByteArray frame = QByteArray::fromHex("016301");
        QVERIFY(pty.write(frame));
        const int slave = ::open(QFile::encodeName(pty.devicePath()).constData(),
                                 O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(slave >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(unreadBytes(slave), int(frame.size()), EmulatorProcess::WaitMs);
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--port", pty.devicePath(), "--gap", "10000"}));
        QTRY_COMPARE_WITH_TIMEOUT(unreadBytes(slave), 0, EmulatorProcess::WaitMs);
        ::close(slave);
        pty.vanish();

        const QString logged = emulator.nextLine();
        QCOMPARE(logged.mid(14), QStringLiteral("01 63 01  UID 1 decimal points 1"));
        const QString failure = emulator.nextLine();
        QVERIFY2(failure.contains(QStringLiteral("line failed: ") + pty.devicePath()),
                 qPrintable(failure));
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.process().exitCode(), 3);
        QCOMPARE(emulator.process().readAll(), QByteArray());
    }

    // Ten thousand frames back to back reach the emulator whole and in
    // order: one log line each, with exactly its bytes. They go in runs
    // of 250 with no pause inside a run, so each run reaches the emulator
    // as one burst that it must take apart; the last frame of a run may be
    // a brightness frame, which takes the rest of its burst.
    void tenThousandFramesInOrder_data()
    {
        QTest::addColumn<bool>("buttons");
        QTest::newRow("panel buttons") << true;
        QTest::newRow("port writes") << false;
    }
    void tenThousandFramesInOrder()
    {
        QFETCH(bool, buttons);
        TestIni ini;
        const QString link = ini.folder() + QStringLiteral("/module.tty");
        ini.write(settingsFor(link));
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", link, "--uid", "any"}));

        QList<Message> messages;
        frmMain window(recorder(messages));
        QVERIFY2(window.port().isOpen(), qPrintable(window.port().errorString()));
        auto* text = window.findChild<QLineEdit*>(QStringLiteral("txtdata"));
        auto* points = window.findChild<QComboBox*>(QStringLiteral("cboDP"));
        QVERIFY(text && points);

        constexpr int Frames = 10000;
        constexpr int Run = 250;
        int logged = 0;
        for (int start = 0; start < Frames; start += Run) {
            QList<QByteArray> sent;
            for (int i = start; i < start + Run; ++i) {
                const bool last = i == start + Run - 1;
                const QByteArray number = QByteArray::number(i).rightJustified(6, ' ');
                QByteArray frame;
                if (buttons && i % 2 == 0) {
                    text->setText(QString::number(i));
                    click(window, "cmdTransmit");
                    frame = QByteArray::fromHex("0962") + number;
                } else if (buttons) {
                    points->setCurrentIndex(i % 64);
                    click(window, "cmdDP");
                    frame = QByteArray::fromHex("0963") + char(i % 64);
                } else {
                    switch (last ? 6 : i % 6) {
                    case 0:
                        frame = QByteArray::fromHex("0962") + number;
                        break;
                    case 1:
                        frame = QByteArray::fromHex("0965") + char(i >> 24) + char(i >> 16) +
                                char(i >> 8) + char(i);
                        break;
                    case 2:
                        frame = QByteArray::fromHex("0967") + char(i >> 8) + char(i);
                        break;
                    case 3:
                        frame = QByteArray::fromHex("0961") + number;
                        break;
                    case 4: // the module keeps its UID and takes 19200 baud
                        frame = QByteArray::fromHex("1e1e1209");
                        break;
                    case 5:
                        frame = QByteArray::fromHex("0963") + char(i % 64);
                        break;
                    default:
                        frame = QByteArray::fromHex("096e") + number;
                        break;
                    }
                    QVERIFY(window.port().write(frame));
                }
                sent << frame;
            }
            for (const QByteArray& frame : sent) {
                const QString line = emulator.nextLine();
                QVERIFY2(line.mid(14).startsWith(hexBytes(frame) + QStringLiteral("  ")),
                         qPrintable(QStringLiteral("frame %1: %2").arg(logged).arg(line)));
                ++logged;
            }
        }
        QCOMPARE(logged, Frames);
        QVERIFY(!emulator.printsWithin(100));
        QCOMPARE(messages.size(), 0);
    }
};

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
