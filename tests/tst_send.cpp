#include "Pty.h"
#include "SendRequest.h"
#include "TestIni.h"

#include <QProcess>
#include <QtTest>

// quendra-send: the frames it builds, the mistakes it refuses and the way it
// reaches a port, mostly in-process through send::run.
class tst_Send : public QObject
{
    Q_OBJECT

private:
    struct Outcome
    {
        int status = -1;
        QString out;
        QString err;
    };

    static Outcome runSend(const QStringList& args, const send::Defaults& defaults = {})
    {
        Outcome o;
        QTextStream out(&o.out);
        QTextStream err(&o.err);
        o.status = send::run(args, defaults, out, err);
        return o;
    }

    static QByteArray printedFrame(const QString& out)
    {
        return QByteArray::fromHex(out.section(QLatin1Char('\n'), 0, 0).toLatin1());
    }

private slots:
    // The bytes the panel puts on the line for the same values.
    void dryRunFrames_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("frame");
        auto row = [](const char* name, const QString& args, const char* hex) {
            QTest::newRow(name) << args.split(QLatin1Char('|')) << QByteArray::fromHex(hex);
        };
        row("text HI, uid 5", "--uid|5|text|HI", "0562202020204849");
        row("typed blanks count", "--uid|1|text| A B", "01622020204120 42");
        row("Windows-1252 characters", "--uid|1|text|\u00e9\u20ac", "016220202020e980");
        row("dp 63, uid 255", "--uid|255|dp|63", "ff633f");
        row("long four bytes", "--uid|1|long|12|34|56|78", "016412345678");
        row("long signed, bytes in one argument", "--uid|1|long|--signed|12 34 56 78",
            "016512345678");
        row("long decimal", "--uid|1|long|305419896", "016412345678");
        row("long hex is the bit pattern when signed", "--uid|1|long|--signed|0xFFFFFFFE",
            "0165fffffffe");
        row("short two bytes", "--uid|2|short|12|34", "02661234");
        row("short signed -300", "--uid|2|short|--signed|-300", "0267fed4");
        row("seg leftmost first", "--uid|3|seg|3F|06|5b|4F|66|6D", "03613f065b4f666d");
        row("dim with nothing before it", "--uid|3|dim", "036e");
        row("dim after a configuration", "--uid|3|dim|--payload|1E 09 FF", "036e1e09ff");
        row("config 9600 uid 0", "config|--baud|9600|--new-uid|0", "1e1e2400");
        row("config 19200 uid 7", "config|--baud|19200|--new-uid|7", "1e1e1207");
        row("config carries no module address", "--uid|9|config|--baud|38400|--new-uid|255",
            "1e1e09ff");
        row("raw zero bytes kept", "raw|00|00|0x0a|d", "0000 0a0d");
        row("uid with a fraction rounds to even", "--uid|2.5|dp|1", "026301");
        row("options after the command", "dp|7|--uid=12", "0c6307");
        row("text that looks like an option", "--uid|1|text|--|-x-", "0162202020 2d782d");
    }
    void dryRunFrames()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, frame);
        const Outcome o = runSend(QStringList{QStringLiteral("--dry-run")} + args);
        QVERIFY2(o.status == send::Sent, qPrintable(o.err));
        QCOMPARE(o.err, QString());
        QCOMPARE(printedFrame(o.out).toHex(' '), frame.toHex(' '));
        QCOMPARE(o.out.count(QLatin1Char('\n')), 1);
    }

    // Every mistake is one line naming what was wrong, and nothing is sent.
    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("status");
        int status = send::BadUsage;
        auto row = [&status](const char* name, const QString& args, const char* message) {
            QTest::newRow(name) << args.split(QLatin1Char('|'), Qt::SkipEmptyParts)
                                << QString::fromUtf8(message) << status;
        };
        row("no command", "", "no command given");
        row("unknown command", "blink|3", "unknown command \"blink\"");
        row("unknown option", "--fast|dp|3", "unknown option --fast");
        row("option without value", "dp|3|--uid", "--uid needs a value");
        row("option of another command", "--signed|text|HI", "--signed is not an option of text");
        row("text too long", "text|ABCDEFG", "longer than 6 characters");
        row("text outside the code page", "text|\u0436", "character the module cannot show");
        row("text in two words", "text|AB|CD", "put a text with blanks in quotes");
        row("dp too big", "dp|64", "dp: 64 is out of range 0 to 63");
        row("long too big", "long|4294967296", "long: 4294967296 is out of range 0 to 4294967295");
        row("long negative unsigned", "long|-5", "add --signed");
        row("long hex too wide", "long|0x100000000", "does not fit in 4 bytes");
        row("long three bytes", "long|12|34|56", "long takes one number or 4 hex bytes");
        row("long bad byte", "long|12|34|56|G8", "\"G8\" is not a hex byte");
        row("long huge decimal", "long|99999999999999999999", "is not a number");
        row("short too big", "short|65536", "short: 65536 is out of range 0 to 65535");
        row("seg five bytes", "seg|00|00|00|00|00", "seg takes six hex bytes");
        row("dim bad payload", "dim|--payload|1G", "--payload: \"1G\" is not hex bytes");
        row("config without baud", "config|--new-uid|3", "config needs --baud");
        row("config odd baud", "config|--baud|4800|--new-uid|3",
            "\"4800\" is not 9600, 19200 or 38400");
        row("config uid too big", "config|--baud|9600|--new-uid|256",
            "--new-uid: 256 is out of range 0 to 255");
        row("raw odd digits", "raw|056", "raw: \"056\" is not hex bytes");
        row("raw nothing", "raw", "raw needs at least one byte");
        row("uid rounds past 255", "--uid|255.5|dp|1", "is not a UID");
        row("port number zero", "--port|COM0|--uid|1|dp|1", "no such port number");
        row("bad settings", "--settings|fast|--dry-run|--uid|1|dp|1", "--settings \"fast\"");
        row("no port at all", "--uid|1|dp|1", "no port: give --port");
        row("no uid at all", "--dry-run|dp|1", "no UID: give --uid");
        status = send::PortFailure;
        row("mapped COM port", "--port|COM4|--uid|1|dp|1", ": COM4: /nonexistent/com4");
        row("not a terminal", "--port|/dev/null|raw|01", ": /dev/null");
    }
    void refused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QFETCH(int, status);
        TestIni ini("[Ports]\nCOM4=/nonexistent/com4\n");
        const Outcome o = runSend(args);
        QCOMPARE(o.status, status);
        QVERIFY2(o.err.startsWith("quendra-send: ") && o.err.contains(message), qPrintable(o.err));
        QCOMPARE(o.err.count('\n'), 1);
        QCOMPARE(o.out, QString());
    }

    // Port, line settings and UID from the settings file, through the same
    // "Ports" mapping as the panel; options win over the file.
    void defaultsFromIni()
    {
        Pty pty;
        TestIni ini("[Settings]\nCommPort=2\nSetting=19200,n,8,1\nSlaveID=7\n[Ports]\nCOM2=" +
                    pty.devicePath().toUtf8() + "\n");
        const send::Defaults defaults = send::Defaults::fromIni();
        Outcome o = runSend({"-v", "dp", "3"}, defaults);
        QVERIFY2(o.status == send::Sent, qPrintable(o.err));
        QCOMPARE(pty.read().toHex(' '), QByteArray("07 63 03"));
        QVERIFY2(o.out.startsWith("07 63 03\nsent 3 bytes to ") && o.out.contains("at 19200,n,8,1"),
                 qPrintable(o.out));
        o = runSend({"--uid", "9", "--port", "COM2", "dp", "3"}, defaults);
        QCOMPARE(o.status, int(send::Sent));
        QCOMPARE(pty.read().toHex(' '), QByteArray("09 63 03"));
        o = runSend({"--dry-run", "dp", "3"}, defaults);
        QCOMPARE(o.status, int(send::Sent));
        QCOMPARE(pty.read(200).toHex(' '), QByteArray()); // a dry run opens nothing
    }

    void badIniValuesAreNamed()
    {
        const send::Defaults defaults{"1", "quick", "300"};
        Outcome o = runSend({"dp", "3"}, defaults);
        QVERIFY2(o.status == send::BadUsage && o.err.contains("SlaveID in quendra.ini"),
                 qPrintable(o.err));
        o = runSend({"--uid", "1", "dp", "3"}, defaults);
        QVERIFY2(o.status == send::BadUsage && o.err.contains("Setting in quendra.ini"),
                 qPrintable(o.err));
        // A configuration frame needs no UID, so a bad SlaveID does not stop it.
        o = runSend({"--dry-run", "config", "--baud", "9600", "--new-uid", "1"}, defaults);
        QCOMPARE(o.status, int(send::Sent));
    }

    // The program's own exit status, for scripts; a real send over a pty.
    void processExitStatus()
    {
        Pty pty;
        const QStringList line{"--port",      pty.devicePath(), "--settings",
                               "19200,n,8,1", "--uid",          "1"};
        const QList<QPair<QStringList, int>> runs = {
            {line + QStringList{"raw", "00 0a 0d ff"}, send::Sent},
            {line + QStringList{"dp", "64"}, send::BadUsage},
            {{"--port", "/nonexistent/tty", "--uid", "1", "dp", "1"}, send::PortFailure}};
        for (const auto& [args, status] : runs) {
            QProcess p;
            p.start(QUENDRA_SEND_PATH, args);
            QVERIFY(p.waitForFinished());
            QCOMPARE(p.exitCode(), status);
            QCOMPARE(p.readAllStandardError().count('\n'), status == send::Sent ? 0 : 1);
            QCOMPARE(p.readAllStandardOutput(), QByteArray());
        }
        QCOMPARE(pty.read().toHex(' '), QByteArray("00 0a 0d ff"));
    }
};

QTEST_GUILESS_MAIN(tst_Send)
#include "tst_send.moc"
