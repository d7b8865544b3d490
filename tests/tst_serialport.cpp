#include "serial/DriverSettings.h"
#include "serial/LineSettings.h"
#include "serial/MSComm.h"
#include "tests/support/Pty.h"
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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

    // The line as asked, nothing holding a byte back or changing it; closed,
    // the device as another program left it. A pty keeps 8 data bits and no
    // parity whatever it is asked, but keeps which parity (odd, mark, space).
    void deviceSettings_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<uint>("asked"); // parity kind and stop flags
        const auto row = [](const char* settings, tcflag_t asked) {
            QTest::newRow(settings) << QString(settings) << uint(asked);
        };
        row("9600,e,7,2", CSTOPB);
        row("1200,o,5,1", PARODD);
        row("19200,m,8,1", CMSPAR | PARODD);
        row("300,s,6,2", CMSPAR | CSTOPB);
        row("250000,n,8,1", 0);
    }
    void deviceSettings()
    {
        QFETCH(QString, settings);
        QFETCH(uint, asked);
        Pty pty;
        termios before{};
        QVERIFY(::tcgetattr(pty.masterFd(), &before) == 0);
        ::cfsetspeed(&before, B4800);
        before.c_iflag |= IXON | IXOFF;
        before.c_cflag |= CRTSCTS;
        QVERIFY(::tcsetattr(pty.masterFd(), TCSANOW, &before) == 0);
        QVERIFY(::tcgetattr(pty.masterFd(), &before) == 0);

        MSComm port;
        port.setDevice(pty.devicePath());
        port.setSettings(settings);
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        termios line{};
        QVERIFY(::tcgetattr(pty.masterFd(), &line) == 0);
        const tcflag_t shape = PARODD | CMSPAR | CSTOPB;
        QCOMPARE(uint(line.c_cflag & shape), asked);
        QCOMPARE(uint(line.c_cflag & (CRTSCTS | CLOCAL)), uint(CLOCAL));
        QCOMPARE(uint(line.c_iflag & (IXON | IXOFF | IXANY)), 0u);
        QCOMPARE(uint(line.c_lflag & (ICANON | ECHO | ISIG)), 0u);
        QCOMPARE(readDriverSettings(pty.masterFd())->outputSpeed,
                 parseLineSettings(settings)->baudRate);

        QVERIFY(port.close());
        termios after{};
        QVERIFY(::tcgetattr(pty.masterFd(), &after) == 0);
        QCOMPARE(int(::cfgetospeed(&after)), int(B4800));
        QCOMPARE(uint(after.c_cflag), uint(before.c_cflag));
        QCOMPARE(uint(after.c_iflag), uint(before.c_iflag));
        QCOMPARE(uint(after.c_lflag), uint(before.c_lflag));
    }

    // A held device is refused, the claim left as it was, until the holder lets go.
    void heldElsewhere_data()
    {
        QTest::addColumn<QString>("holder");
        for (const char* holder : {"advisory lock", "exclusive use"})
            QTest::newRow(holder) << QString(holder);
    }
    static int openDescriptors() { return int(QDir("/proc/self/fd").count()); }
    void heldElsewhere()
    {
        QFETCH(QString, holder);
        Pty pty;
        const int held = ::open(QFile::encodeName(pty.devicePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(held >= 0);
        const bool lock = holder == "advisory lock";
        QVERIFY(lock ? ::flock(held, LOCK_EX) == 0 : ::ioctl(held, TIOCEXCL) == 0);

        MSComm port;
        port.setDevice(pty.devicePath());
        const int descriptors = openDescriptors();
        QVERIFY(!port.open() && !port.isOpen());
        QCOMPARE(openDescriptors(), descriptors);
        // The holder is named: here, this program on another descriptor.
        QCOMPARE(port.errorString(), QString("%1: the port is in use by tst_serialport, pid %2")
                                         .arg(pty.devicePath())
                                         .arg(QCoreApplication::applicationPid()));
        QVERIFY(!port.write("\x01").ok());
        int exclusive = 0;
        QVERIFY(::ioctl(held, TIOCGEXCL, &exclusive) == 0);
        QCOMPARE(exclusive, lock ? 0 : 1);

        QVERIFY(lock ? ::flock(held, LOCK_UN) == 0 : ::ioctl(held, TIOCNXCL) == 0);
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QVERIFY(port.write("\x02").ok());
        QCOMPARE(pty.read(), QByteArray("\x02"));
        port.close();
        QCOMPARE(openDescriptors(), descriptors);
        ::close(held);
    }

    // A file that is no terminal is refused, and left as it was.
    void notATerminal()
    {
        MSComm port;
        port.setDevice("/dev/null");
        const int descriptors = openDescriptors();
        QVERIFY(!port.open() && !port.isOpen());
        QCOMPARE(port.errorString(), QString("/dev/null: not a serial device"));
        QCOMPARE(openDescriptors(), descriptors);
    }
};

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_serialport.moc"
