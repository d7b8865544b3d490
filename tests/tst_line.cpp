#include "serial/DeviceLine.h"
#include "serial/MSComm.h"
#include "tests/support/LineTrace.h"
#include "tests/support/Panel.h"
#include "tests/support/Process.h"

#include <QElapsedTimer>

// The system calls that reach the device and the settings the driver reports
// back; LineTrace plays the faults a pseudo-terminal cannot have.
class tst_Line : public QObject
{
    Q_OBJECT

    static QStringList afterLastWrite(QStringList calls)
    {
        calls = calls.mid(calls.lastIndexOf(QRegularExpression("write .*")));
        calls.removeAll("TIOCOUTQ");
        calls.removeDuplicates();
        return calls;
    }

private slots:
    // A fault left behind would reach the next row's device, which may reuse the path.
    void cleanup() { LineTrace::watch({}); }
    // Whatever changes or closes the line comes after the drain, so a
    // frame's tail never goes out at the earlier settings.
    void drainBeforeTheLineChanges_data()
    {
        QTest::addColumn<QString>("entry"); // the menu entry chosen; none: the window closed
        QTest::newRow("menu: same port again") << "mnuCOM_1";
        QTest::newRow("menu: another port") << "mnuCOM_2";
        QTest::newRow("menu: baud rate") << "mnuBR_3";
        QTest::newRow("window closed") << "";
    }
    void drainBeforeTheLineChanges()
    {
        QFETCH(QString, entry);
        Panel p;
        LineTrace::watch(p.ptys[0].devicePath());
        p.set({"txtdata=HI", "cmdTransmit"});
        if (entry.isEmpty())
            p.window.reset();
        else
            p.choose(entry);
        QCOMPARE(afterLastWrite(LineTrace::calls()),
                 QStringList({"write 8", "tcdrain", "tcsetattr", "close"}));
        QCOMPARE(p.ptys[0].read().toHex(' '), QByteArray("05 62 20 20 20 20 48 49"));
    }

    // A line that takes no more: what is left is discarded within the bound.
    void stalledLine()
    {
        // However much is queued at however slow a rate, a drain never waits past this limit.
        QCOMPARE(DeviceLine::drainLimitMs(4096, *parseLineSettings("300,n,8,1")),
                 DeviceLine::StallLimitMs);
        Pty pty;
        MSComm port;
        port.setDevice(pty.devicePath());
        QVERIFY(port.open());
        LineTrace::watch(pty.devicePath());
        LineTrace::stallOutput(8);
        QElapsedTimer clock;
        clock.start();
        const WriteResult sent = port.write(QByteArray::fromHex("0562202020204849"));
        QVERIFY2(clock.elapsed() < DeviceLine::StallLimitMs + 500, "the wait has no bound");
        QVERIFY(!sent.ok() && !port.isOpen());
        QCOMPARE(sent.sent, 0);
        QCOMPARE(sent.summary(), QString("Frame not sent: the port failed and was closed"));
        QVERIFY2(sent.error.contains("8 bytes discarded"), qPrintable(sent.error));
        QVERIFY(LineTrace::calls().contains("tcflush"));
    }

    // Settings the line cannot run with fail the open, naming the field.
    void settingsReadBack_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<unsigned>("driverRate"); // 0: as the pty keeps it
        QTest::addColumn<QString>("reason");
        QTest::newRow("1.5 stop bits") << "38400,n,8,1.5" << 0u << "stop bits 1.5";
        QTest::newRow("rate rounded by the driver")
            << "38400,n,8,1" << 38461u << "rate 38400 asked, the driver runs the line at 38461";
    }
    void settingsReadBack()
    {
        QFETCH(QString, settings);
        QFETCH(unsigned, driverRate);
        QFETCH(QString, reason);
        Pty pty;
        LineTrace::watch(pty.devicePath());
        LineTrace::reportSpeed(driverRate);
        MSComm port;
        port.setDevice(pty.devicePath());
        port.setSettings(settings);
        QVERIFY(!port.open() && !port.isOpen());
        QVERIFY2(port.errorString().startsWith(pty.devicePath()) &&
                     port.errorString().contains(reason),
                 qPrintable(port.errorString()));
    }

    // The device fails part-way: the operator learns how much, once.
    void frameCutShort()
    {
        Panel p;
        LineTrace::watch(p.ptys[0].devicePath());
        LineTrace::failWritesAfter(3);
        p.set({"txtdata=HI", "cmdTransmit"});
        QCOMPARE(p.messages, QStringList{"Frame cut short: 3 of 8 bytes sent; the port failed "
                                         "and was closed"});
        QVERIFY(!p.window->port().isOpen());
        QCOMPARE(p.ptys[0].read().toHex(' '), QByteArray("05 62 20"));
    }

    // quendra-send: the same order on its way out; a frame cut short is status 3.
    void sender_data()
    {
        QTest::addColumn<int>("writeLimit"); // bytes the device takes; -1: all
        QTest::newRow("sent, drained, restored, closed") << -1;
        QTest::newRow("cut short") << 3;
    }
    void sender()
    {
        QFETCH(int, writeLimit);
        Pty pty;
        QTemporaryDir dir;
        const QString log = dir.filePath("calls");
        QProcessEnvironment env =
            LineTrace::environment(QUENDRA_LINETRACE_LIBRARY, pty.devicePath(), log);
        env.insert("QUENDRA_LINETRACE_WRITE_LIMIT", QString::number(writeLimit));
        const Finished send = runToEnd(
            QUENDRA_SEND_PATH,
            {"--port", pty.devicePath(), "--settings", "38400,n,8,1", "--uid", "5", "text", "HI"},
            10000, env);
        const QString err = QString::fromUtf8(send.err);
        if (writeLimit < 0) {
            QCOMPARE(send.status, 0);
            QCOMPARE(err, QString());
            QCOMPARE(afterLastWrite(LineTrace::callsIn(log)),
                     QStringList({"write 8", "tcdrain", "tcsetattr", "close"}));
        } else {
            QCOMPARE(send.status, 3);
            QVERIFY2(err.contains("Frame cut short: 3 of 8 bytes sent") && err.count('\n') == 1,
                     qPrintable(err));
        }
    }
};

QTEST_MAIN(tst_Line)
#include "tst_line.moc"
