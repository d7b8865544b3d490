#include "LineSettings.h"
#include "MSComm.h"
#include "Pty.h"
#include "TestIni.h"

#include <QtTest>

// The port object over real pseudo-terminals mapped through "Ports".
class tst_SerialPort : public QObject
{
    Q_OBJECT

    static QByteArray portsIni(const Pty& pty)
    {
        return "[Ports]\nCOM1=" + pty.devicePath().toUtf8() +
               "\nCOM2=" + pty.devicePath().toUtf8() + "\n";
    }

private slots:
    // Every byte value, line ends included, arrives untranslated.
    void bytesArriveExactly()
    {
        QByteArray frame = QByteArray::fromHex("0a0d0a0d0d0a00ff");
        for (int i = 0; i < 256; ++i)
            frame.append(char(i));
        Pty pty;
        TestIni ini(portsIni(pty));
        MSComm port;
        port.setCommPort(1);
        port.setSettings("9600,n,8,1");
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QVERIFY(port.write(frame));
        QCOMPARE(pty.read().toHex(' '), frame.toHex(' '));
    }

    void lineSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baud");      // 0: refused
        QTest::addColumn<QString>("frame"); // parity, data bits, stop bits as QSerialPort numbers
        const auto row = [](const char* text, int baud, const char* frame) {
            QTest::newRow(text) << QString(text) << baud << QString(frame);
        };
        row("9600,n,8,1", 9600, "0 8 1");
        row("19200,N,8,1", 19200, "0 8 1");
        row(" 38400 , n , 8 , 2 ", 38400, "0 8 2");
        row("31250,n,8,1", 31250, "0 8 1");
        row("1200,E,7,2", 1200, "2 7 2");
        row("4800,o,5,1.5", 4800, "3 5 3");
        row("300,m,6,1", 300, "5 6 1");
        row("600,S,8,1", 600, "4 8 1");
        for (const char* refused :
             {"", "9600,n,8", "9600,n,8,1,1", "0,n,8,1", "-9600,n,8,1", "9600.5,n,8,1",
              "9600,x,8,1", "9600,n,4,1", "9600,n,9,1", "9600,n,8,3"})
            row(refused, 0, "");
    }
    void lineSettings()
    {
        QFETCH(QString, text);
        QFETCH(int, baud);
        QFETCH(QString, frame);
        const std::optional<LineSettings> parsed = parseLineSettings(text);
        QCOMPARE(parsed.has_value(), baud != 0);
        if (parsed) {
            QCOMPARE(QString("%1 %2 %3")
                         .arg(int(parsed->parity))
                         .arg(int(parsed->dataBits))
                         .arg(int(parsed->stopBits)),
                     frame);
            if (!frame.startsWith("0 8")) // a pty keeps no parity or character size
                return;
        }
        Pty pty;
        TestIni ini(portsIni(pty));
        MSComm port;
        port.setCommPort(1);
        port.setSettings(text);
        QCOMPARE(port.open(), baud != 0);
        QCOMPARE(port.isOpen(), baud != 0);
        if (baud)
            QCOMPARE(port.activeSettings()->baudRate, baud);
        else
            QVERIFY(!port.errorString().isEmpty());
    }

    void heldOrMissingPortFails()
    {
        Pty pty;
        TestIni ini(portsIni(pty) + "COM3=/dev/quendra-no-such-device\n");
        MSComm first, second, missing;
        first.setCommPort(1);
        QVERIFY(first.open());
        second.setCommPort(2);
        QVERIFY(!second.open() && !second.isOpen());
        QVERIFY(second.errorString().contains(pty.devicePath()));
        missing.setCommPort(3);
        QVERIFY(!missing.open() && !missing.isOpen());
        QVERIFY(missing.errorString().startsWith("/dev/quendra-no-such-device"));
        QVERIFY(!missing.write("\x01\x62"));
    }

    void devicePaths_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("expected"); // "@": relative to the program's folder
        QTest::newRow("no mapping") << QByteArray() << 6 << "/dev/ttyS5";
        QTest::newRow("absolute") << QByteArray("[Ports]\nCOM2=/dev/ttyUSB0\n") << 2
                                  << "/dev/ttyUSB0";
        QTest::newRow("relative") << QByteArray("[ports]\ncom4=link/tty\n") << 4 << "@link/tty";
    }
    void devicePaths()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, number);
        QFETCH(QString, expected);
        TestIni folder(ini);
        QCOMPARE(MSComm::devicePathFor(number), expected.replace("@", folder.folder() + '/'));
    }
};

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_serialport.moc"
