#include "serial/LineSettings.h"
#include "serial/MSComm.h"
#include "tests/support/Pty.h"
#include <QtTest>

// The port object over real pseudo-terminals mapped through "Ports".
class tst_SerialPort : public QObject
{
    Q_OBJECT

private slots:
    // Parsed and written back: the canonical text, or nothing when refused.
    void lineSettings_data()
    {
        QTest::addColumn<QString>("row"); // "text=canonical text"
        for (const char* row :
             {"9600,n,8,1=9600,n,8,1", " 38400 , N , 8 , 2 =38400,n,8,2", "1200,E,7,2=1200,e,7,2",
              "4800,o,5,1.5=4800,o,5,1.5", "300,m,6,1=300,m,6,1", "600,S,8,1=600,s,8,1", "",
              "9600,n,8", "0,n,8,1", "9600.5,n,8,1", "9600,x,8,1", "9600,n,9,1", "9600,n,8,3"})
            QTest::newRow(row) << QString(row);
    }
    void lineSettings()
    {
        QFETCH(QString, row);
        const std::optional<LineSettings> s = parseLineSettings(row.section('=', 0, 0));
        QCOMPARE(s ? formatLineSettings(*s) : QString(), row.section('=', 1));
    }
    void portLine()
    {
        Pty pty;
        const QByteArray path = pty.devicePath().toUtf8();
        const QMap<int, QString> ports{{1, pty.devicePath()}, {2, pty.devicePath()}};
        MSComm port, held;
        for (MSComm* p : {&port, &held})
            p->setPortMap(ports);
        port.setCommPort(1);
        port.setSettings("19200,n,8,1");
        QVERIFY(port.open() && port.activeSettings()->baudRate == 19200);
        // Line ends and every byte value, none of them translated.
        const QByteArray frame = QByteArray::fromHex("000a0d0a0d0d0aff") + countingBytes(256);
        QVERIFY(port.write(frame).ok());
        QCOMPARE(pty.read().toHex(' '), frame.toHex(' '));
        held.setCommPort(2);
        QVERIFY(!held.open() && !held.isOpen() && held.errorString().contains(path));
    }
};

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_serialport.moc"
