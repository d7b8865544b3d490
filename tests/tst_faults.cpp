#include "MSComm.h"
#include "Pty.h"
#include "TestIni.h"
#include "frmMain.h"
#include "modINI.h"
#include "modVariable.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// What the panel does when its surroundings go wrong: a settings file that is
// not a readable text file, and a port another program already holds.
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
};

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
