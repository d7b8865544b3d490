#include "tests/support/Pty.h"
#include "tests/support/TestIni.h"
#include "tools/send/SendRequest.h"

#include <QProcess>
#include <QtTest>

// quendra-send's frames, refusals and sends, mostly in-process via send::run.
class tst_Send : public QObject
{
    Q_OBJECT

    static int runSend(const QStringList& args, QString* out, QString* err,
                       const send::Defaults& defaults = {})
    {
        QTextStream o(out);
        QTextStream e(err);
        return send::run(args, defaults, o, e);
    }

private slots:
    // One dry run per command, against the bytes the panel sends for the same
    // values; then mistakes, each one stderr line naming what was wrong.
    void run_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("expected"); // the frame printed, or the message
        QTest::addColumn<int>("status");
        const auto row = [](const char* args, const char* expected, int status = send::Sent) {
            QTest::newRow(args) << QString::fromUtf8(args) << QString(expected) << status;
        };
        row("--dry-run|--uid|5|text|\u00e9\u20ac B", "05 62 20 20 E9 80 20 42");
        row("--dry-run|--uid|255|dp|63", "FF 63 3F");
        row("--dry-run|--uid|1|long|305419896", "01 64 12 34 56 78");
        row("--dry-run|--uid|2|short|--signed|-300", "02 67 FE D4");
        row("--dry-run|--uid|3|seg|3F|06|5b|4F|66|6D", "03 61 3F 06 5B 4F 66 6D");
        row("--dry-run|--uid|3|dim|--payload|1E 09 FF", "03 6E 1E 09 FF");
        row("--dry-run|--uid|9|config|--baud|19200|--new-uid|7", "1E 1E 12 07");
        row("--dry-run|raw|00|0x0a|d", "00 0A 0D");
        row("", "no command given", send::BadUsage);
        row("--fast|dp|3", "unknown option --fast", send::BadUsage);
        row("text|ABCDEFG", "longer than 6 characters", send::BadUsage);
        row("dp|64", "dp: 64 is out of range 0 to 63", send::BadUsage);
        row("config|--baud|4800|--new-uid|3", "is not 9600, 19200 or 38400", send::BadUsage);
        row("--dry-run|dp|1", "no UID: give --uid", send::BadUsage);
        row("--port|/dev/null|raw|01", ": /dev/null", send::PortFailure);
    }
    void run()
    {
        QFETCH(QString, args);
        QFETCH(QString, expected);
        QFETCH(int, status);
        QString out, err;
        QCOMPARE(runSend(args.split('|', Qt::SkipEmptyParts), &out, &err), status);
        if (status == send::Sent) {
            QCOMPARE(out, expected + '\n');
            QCOMPARE(err, QString());
        } else {
            QVERIFY2(err.startsWith("quendra-send: ") && err.contains(expected), qPrintable(err));
            QCOMPARE(err.count('\n'), 1);
            QCOMPARE(out, QString());
        }
    }

    // Port, settings and UID come from the ini through the panel's "Ports"
    // mapping; the built program sends over a real pty and exits 0.
    void sendsWithIniDefaults()
    {
        Pty pty;
        TestIni ini("[Settings]\nCommPort=2\nSetting=19200,n,8,1\nSlaveID=7\n[Ports]\nCOM2=" +
                    pty.devicePath().toUtf8() + "\n");
        QString out, err;
        QCOMPARE(runSend({"dp", "3"}, &out, &err, send::Defaults::fromIni()), int(send::Sent));
        QCOMPARE(pty.read().toHex(' '), QByteArray("07 63 03"));
        QProcess p;
        p.start(QUENDRA_SEND_PATH,
                {"--port", pty.devicePath(), "--uid", "1", "raw", "00 0a 0d ff"});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), int(send::Sent));
        QCOMPARE(pty.read().toHex(' '), QByteArray("00 0a 0d ff"));
    }
};

QTEST_GUILESS_MAIN(tst_Send)
#include "tst_send.moc"
