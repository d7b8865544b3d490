#include "settings/modINI.h"
#include "tests/support/EmulatorProcess.h"
#include "tests/support/Panel.h"

#include <QLabel>
#include <QMessageBox>
#include <QSerialPort>

#include <fcntl.h>
#include <sys/stat.h>

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    // file: the settings file's bytes ("@PTY@" for COM1's device), "@pipe", or
    // "@/target" for a link; expected: CommPort|Setting|SlaveID as read.
    void brokenSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& file, const QString& expected) {
            QTest::newRow(name) << file << expected;
        };
        row("pipe: reading would wait forever", "@pipe", "||");
        row("link to /dev/zero: would fill memory", "@/dev/zero", "||");
        row("binary around the settings",
            QByteArray::fromHex("00fffe0d0a5b000a") +
                "[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=9\n[Ports]\nCOM1=@PTY@\n\x03",
            "1|9600,n,8,1|9");
        row("UTF-16 from a Windows editor: no byte line is a key",
            QByteArray::fromHex("fffe5b00530065007400740069006e00670073005d000a0043006f00"
                                "6d006d0050006f00720074003d0031000a00"),
            "||");
        row("folder in its place", "@mkdir", "||");
        row("10 MB of junk, no line break", QByteArray(qsizetype(10) * 1024 * 1024, '\x01'), "||");
    }
    void brokenSettingsFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        Panel p(QByteArray{});
        const QByteArray path = QFile::encodeName(p.ini.filePath());
        if (file == "@pipe")
            QCOMPARE(::mkfifo(path.constData(), 0644), 0);
        else if (file == "@mkdir")
            QVERIFY(QDir().mkdir(p.ini.filePath()));
        else if (file.startsWith('@'))
            QVERIFY(QFile::link(file.mid(1), path));
        else if (!file.isEmpty())
            p.ini.write(file.replace("@PTY@", p.ptys[0].devicePath().toUtf8()));
        QStringList read;
        for (const char* key : {"CommPort", "Setting", "SlaveID"})
            read << modINI::ReadINI("Settings", key);
        QCOMPARE(read.join('|'), expected);
        p.start();
        QCOMPARE(p.messages.isEmpty(), expected == "1|9600,n,8,1|9"); // or told, not crashed
    }
    // A port another program holds is told at a menu choice and at start-up,
    // and opens once free. Then its device goes: one message per later press,
    // none on their own, and a later menu choice brings frames back.
    void portHeldThenVanishing()
    {
        // COM2 is a link, so that a fresh device can take the vanished one's
        // place behind the same name: the mapping is read once, at start.
        QTemporaryDir dir;
        const QString com2 = dir.filePath("com2");
        Panel p(QByteArray{});
        const auto iniWithCom2 = [&](const char* settings) {
            return p.iniFor(settings).replace(p.ptys[1].devicePath().toUtf8(), com2.toUtf8());
        };
        QVERIFY(QFile::link(p.ptys[1].devicePath(), com2));
        p.ini.write(iniWithCom2(Panel::Usual));
        p.start();
        QSerialPort holder(com2);
        QVERIFY(holder.open(QIODevice::ReadWrite));
        p.choose("mnuCOM_2");
        QCOMPARE(p.messages, QStringList{"Selected Port Not Available"});
        p.ini.write(iniWithCom2("CommPort=2\nSetting=9600,n,8,1\nSlaveID=5"));
        p.start();
        QCOMPARE(p.messages, QStringList{"COMM PORT ERROR"});
        holder.close();
        p.choose("mnuCOM_2");
        p.press("cmdDP");
        QCOMPARE(p.line(2).toHex(' '), QByteArray("05 63 00"));
        p.ptys[1].vanish();
        // Left to the event loop, a failing device may say so once.
        QCoreApplication::processEvents();
        const qsizetype before = p.messages.size();
        QVERIFY(before <= 2);
        for (int i = 0; i < 10; ++i)
            p.press(i % 2 ? "cmdSEG" : "cmdDP");
        QCoreApplication::processEvents();
        QCOMPARE(p.messages.size(), before + 10);
        QCOMPARE(p.messages.back(), QString("Nothing sent: the port is not open"));
        Pty fresh;
        QVERIFY(QFile::remove(com2) && QFile::link(fresh.devicePath(), com2));
        p.choose("mnuCOM_2");
        p.press("cmdDP");
        QCOMPARE(fresh.read().toHex(' '), QByteArray("05 63 00"));
    }
    // A device name that looks like markup is shown as written in a real box.
    void messageShowsMarkupAsText()
    {
        const QString name = "/dev/<h1><font color=red>PORT OK</font></h1><img src='/tmp/x.png'>";
        TestIni ini("[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=5\n[Ports]\nCOM1=" +
                    name.toUtf8() + "\n");
        QList<Qt::TextFormat> formats; // each box's, then that of its label showing the name
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QDialog*>(w);
                if (!dialog || !dialog->isVisible())
                    continue;
                if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                    formats << box->textFormat();
                    for (const QLabel* label : box->findChildren<QLabel*>())
                        if (label->text().contains(name))
                            formats << label->textFormat();
                }
                dialog->done(0);
            }
        });
        watcher.start(10);
        frmMain window; // no recorder: start-up's message goes to a real box
        QCOMPARE(formats, (QList<Qt::TextFormat>{Qt::PlainText, Qt::PlainText}));
    }
    // The emulator's device goes: it says so and a headless one ends with 3.
    void emulatorLineVanishes()
    {
        Pty pty;
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--port", pty.devicePath()}));
        QVERIFY(pty.write(QByteArray::fromHex("016301")));
        QCOMPARE(emulator.nextLine().mid(14), QString("01 63 01  UID 1 decimal points 1"));
        pty.vanish();
        QVERIFY(emulator.nextLine().contains("line failed: " + pty.devicePath()));
        QVERIFY(emulator.finished());
        QCOMPARE(emulator.process().exitCode(), 3);
    }
};

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
