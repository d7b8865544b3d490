#include "LineSettings.h"
#include "MSComm.h"
#include "Pty.h"
#include "TestIni.h"

#include <QtTest>

// The port object over real pseudo-terminals mapped through "Ports".
class tst_SerialPort : public QObject
{
    Q_OBJECT

private:
    static QByteArray portsIni(const QString& com1, const QString& com2 = {})
    {
        QByteArray ini = "[Ports]\nCOM1=" + com1.toUtf8() + "\n";
        if (!com2.isEmpty())
            ini += "COM2=" + com2.toUtf8() + "\n";
        return ini;
    }

private slots:
    void bytesArriveExactly_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("zero bytes inside") << QByteArray::fromHex("05610000000000ff");
        QTest::newRow("line feed and return") << QByteArray::fromHex("0a0d0a0d0d0a");
        QTest::newRow("all 256 values") << [] {
            QByteArray all;
            for (int i = 0; i < 256; ++i)
                all.append(char(i));
            return all;
        }();
    }
    void bytesArriveExactly()
    {
        QFETCH(QByteArray, frame);
        Pty pty;
        TestIni ini(portsIni(pty.devicePath()));
        MSComm port;
        port.setCommPort(1);
        port.setSettings(QStringLiteral("9600,n,8,1"));
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QVERIFY(port.write(frame));
        const QByteArray got = pty.read();
        QCOMPARE(got.toHex(' '), frame.toHex(' '));
    }

    void lineSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<qint32>("baud");
        QTest::newRow("usual") << "9600,n,8,1" << true << 9600;
        QTest::newRow("upper-case parity") << "19200,N,8,1" << true << 19200;
        // A pseudo-terminal keeps no parity or character size, so the rows
        // that open one stay at n,8; parseAccepted covers the other letters.
        QTest::newRow("blanks around fields") << " 38400 , n , 8 , 2 " << true << 38400;
        QTest::newRow("non-standard rate") << "31250,n,8,1" << true << 31250;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("three fields") << "9600,n,8" << false << 0;
        QTest::newRow("five fields") << "9600,n,8,1,1" << false << 0;
        QTest::newRow("zero baud") << "0,n,8,1" << false << 0;
        QTest::newRow("negative baud") << "-9600,n,8,1" << false << 0;
        QTest::newRow("fractional baud") << "9600.5,n,8,1" << false << 0;
        QTest::newRow("parity x") << "9600,x,8,1" << false << 0;
        QTest::newRow("4 data bits") << "9600,n,4,1" << false << 0;
        QTest::newRow("9 data bits") << "9600,n,9,1" << false << 0;
        QTest::newRow("3 stop bits") << "9600,n,8,3" << false << 0;
    }
    void lineSettings()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(qint32, baud);
        const std::optional<LineSettings> parsed = parseLineSettings(text);
        QCOMPARE(parsed.has_value(), accepted);

        Pty pty;
        TestIni ini(portsIni(pty.devicePath()));
        MSComm port;
        port.setCommPort(1);
        port.setSettings(text);
        QCOMPARE(port.open(), accepted);
        QCOMPARE(port.isOpen(), accepted);
        if (accepted)
            QCOMPARE(port.activeSettings()->baudRate, baud);
        else
            QVERIFY(!port.errorString().isEmpty());
    }

    void parseAccepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("even, 7, 2") << " 1200 , E , 7 , 2 " << int(QSerialPort::EvenParity) << 7
                                    << int(QSerialPort::TwoStop);
        QTest::newRow("odd, 5, 1.5") << "4800,o,5,1.5" << int(QSerialPort::OddParity) << 5
                                     << int(QSerialPort::OneAndHalfStop);
        QTest::newRow("mark, 6") << "300,m,6,1" << int(QSerialPort::MarkParity) << 6
                                 << int(QSerialPort::OneStop);
        QTest::newRow("space, 8") << "600,S,8,1" << int(QSerialPort::SpaceParity) << 8
                                  << int(QSerialPort::OneStop);
    }
    void parseAccepted()
    {
        QFETCH(QString, text);
        QFETCH(int, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        const std::optional<LineSettings> parsed = parseLineSettings(text);
        QVERIFY(parsed);
        QCOMPARE(int(parsed->parity), parity);
        QCOMPARE(int(parsed->dataBits), dataBits);
        QCOMPARE(int(parsed->stopBits), stopBits);
    }

    void secondOpenOfHeldPortFails()
    {
        Pty pty;
        TestIni ini(portsIni(pty.devicePath(), pty.devicePath()));
        MSComm first;
        first.setCommPort(1);
        QVERIFY(first.open());
        MSComm second;
        second.setCommPort(2);
        QVERIFY(!second.open());
        QVERIFY(!second.isOpen());
        QVERIFY(second.errorString().contains(pty.devicePath()));
    }

    void missingDeviceFails()
    {
        TestIni ini("[Ports]\nCOM3=/dev/quendra-no-such-device\n");
        MSComm port;
        port.setCommPort(3);
        QVERIFY(!port.open());
        QVERIFY(!port.isOpen());
        QVERIFY(port.errorString().startsWith("/dev/quendra-no-such-device"));
    }

    void devicePaths_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no mapping") << QByteArray() << 1 << "/dev/ttyS0";
        QTest::newRow("no mapping COM6") << QByteArray() << 6 << "/dev/ttyS5";
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
        if (expected.startsWith('@'))
            expected = folder.folder() + '/' + expected.mid(1);
        QCOMPARE(MSComm::devicePathFor(number), expected);
    }

    void writeOnClosedPortFails()
    {
        MSComm port;
        QVERIFY(!port.write("\x01\x62"));
        QVERIFY(!port.errorString().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_serialport.moc"
