#include "serial/PortName.h"
#include "tests/support/Process.h"
#include "tests/support/Pty.h"
#include "tests/support/TestIni.h"
#include "tools/send/Progress.h"
#include "tools/send/Script.h"
#include "tools/send/SendRequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

#include <algorithm>

#include <fcntl.h>

Q_DECLARE_METATYPE(send::ProgressFigures)

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

    QTemporaryDir m_scripts;
    int m_scriptCount = 0;

    QString writeScript(const QByteArray& text)
    {
        return writeFile(m_scripts.filePath(QStringLiteral("s%1.txt").arg(++m_scriptCount)), text);
    }

private slots:
    // Dry runs, one per command; then mistakes, each one stderr line naming
    // what was wrong (with a script, its first bad line, and nothing printed).
    void run_data()
    {
        QTest::addColumn<QString>("args");      // '|' between words
        QTest::addColumn<QByteArray>("script"); // null: none
        QTest::addColumn<QString>("expected");  // standard output, or part of the refusal
        QTest::addColumn<int>("status");
        const auto row = [](const char* args, const char* expected, int status = send::Sent) {
            QTest::newRow(args) << QString::fromUtf8(args) << QByteArray()
                                << QString(expected) + (status == send::Sent ? "\n" : "") << status;
        };
        const auto script = [](const char* name, const QByteArray& script, const char* args,
                               const QString& expected, int status = send::Sent) {
            QTest::newRow(name) << "--dry-run|" + QString(args) << script << expected << status;
        };
        const int bad = send::BadUsage;
        row("--dry-run|--uid|5|text|\u00e9\u20ac B", "05 62 20 20 E9 80 20 42");
        row("--dry-run|--uid|255|dp|63", "FF 63 3F");
        row("--dry-run|--uid|1|long|305419896", "01 64 12 34 56 78");
        row("--dry-run|--uid|2|short|--signed|-300", "02 67 FE D4");
        row("--dry-run|--uid|3|seg|3F|06|5b|4F|66|6D", "03 61 3F 06 5B 4F 66 6D");
        row("--dry-run|--uid|3|dim|--payload|1E 09 FF", "03 6E 1E 09 FF");
        row("--dry-run|--uid|9|config|--baud|19200|--new-uid|7", "1E 1E 12 07");
        row("--dry-run|raw|00|0x0a|d", "00 0A 0D");
        // The other written forms: a hex number is the bit pattern, signed or not.
        row("--dry-run|--uid|7|dp|0x3f", "07 63 3F");
        row("--dry-run|--uid|7|long|--signed|0xFFFFFFFE", "07 65 FF FF FF FE");
        row("--dry-run|--uid|7|short|--signed|FE D4", "07 67 FE D4");
        row("--dry-run|--uid|7|text|--|-A", "07 62 20 20 20 20 2D 41");
        row("--dry-run|config|--baud|38400|--new-uid=255", "1E 1E 09 FF");
        row("", "no command given", bad);
        row("text|ABCDEFG", "longer than 6 characters", bad);
        row("dp|64", "dp: 64 is out of range 0 to 63", bad);
        row("config|--baud|4800|--new-uid|3", "is not 9600, 19200 or 38400", bad);
        row("--dry-run|dp|1", "no UID: give --uid", bad);
        // Control bytes, signs, blanks and overflow: what a careful reader refuses.
        row("--uid|5|text|A\tB",
            "text: \"A\\x09B\" holds the control character \\x09; send arbitrary bytes with raw",
            bad);
        row("--uid|5|text|HI\x7f", "control character \\x7f", bad);
        row("raw|-1", "raw: \"-1\" is not hex bytes", bad);
        row("--uid|5|dp|+5", "dp: \"+5\" is not a whole number", bad);
        row("--uid|5|dp|-0", "dp: -0 is out of range 0 to 63", bad);
        row("--uid|+5|dp|1", "--uid \"+5\" is not a UID", bad);
        row("--uid|5|long|-0", "long: -0 is negative", bad);
        row("--uid|5|long|99999999999999999999", "out of range 0 to 4294967295", bad);
        row("--uid|5|short|0x10000000000000000", "does not fit in 2 bytes", bad);
        row("config|--baud| 9600|--new-uid|3", "--baud: \" 9600\" is not", bad);
        row("--uid|5|long| 12", "long: \" 12\" is not a number", bad);
        row("--uid|5|short|0x12 ", "short: \"0x12 \" is not a number", bad);
        row("--uid|5|long|12|\t", "long: \"12 \\x09\" is not a number", bad);
        QTest::newRow("a megabyte quoted cut short")
            << "text|" + QString(1 << 20, 'A') << QByteArray()
            << "text: \"" + QString(40, 'A') + "...\" is longer than 6 characters" << bad;
        // Refused before any port is known; what only a server decides is left to it.
        row("--dry-run|--uid|1|--uid=2|dp|3", "--uid given twice", bad);
        row("--dry-run|--uid|1|--verbose|dp|3", "--dry-run and --verbose ask for opposite things",
            bad);
        row("--dry-run|--port|/dev/ttyS0|--settings|9600,n,8,1.5|--uid|1|dp|3", "stop bits 1.5",
            bad);
        row("--dry-run|--settings|9600,n,8,1.5|--uid|1|dp|3", "stop bits 1.5", bad);
        row("--dry-run|--port|rfc2217://127.0.0.1:1|--settings|9600,n,8,1.5|--uid|1|dp|3",
            "01 63 03");

        script("uid, wait, comments", "uid 5\ntext HI\nwait 10\n# note\n\n  dp 63\n", "",
               "2: 05 62 20 20 20 20 48 49\n3: wait 10 ms\n6: 05 63 3F\n");
        script("uid line, then a line of its own", "uid 9\n--uid 1 dp 1\ndp 2\n", "--uid|3",
               "2: 01 63 01\n3: 09 63 02\n");
        script("quoted words", "text \"a\\\"b\"\nraw '05 62' \"20\" 20\\ 20 20 48 49\n", "--uid|5",
               "1: 05 62 20 20 20 61 22 62\n2: 05 62 20 20 20 20 48 49\n");
        script("negative number, CRLF", "long --signed -1\r\nshort 0x1234\r\n", "--uid|5",
               "1: 05 65 FF FF FF FF\n2: 05 66 12 34\n");
        script("UTF-8 across lines", "text \xc3\xa9t\xc3\xa9\ndp 2", "--uid|1",
               "1: 01 62 20 20 20 E9 74 E9\n2: 01 63 02\n");
        script("bad value", "dp 1\ndp 2\ndp 64\n", "--uid|5", "3: dp: 64 is out of range 0 to 63",
               bad);
        script("--port in a line", "dp 1\n--port /dev/null dp 2\n", "--uid|5",
               "2: --port applies to the whole script", bad);
        script("long wait", "wait 3600001\n", "", "1: wait: 3600001 is out of range 0 to 3600000",
               bad);
        script("wait without time", "wait\n", "", "1: wait takes one number", bad);
        script("bad uid line", "uid 256\n", "", "1: uid: \"256\" is not a UID 0 to 255", bad);
        script("uid with an option", "uid 5 --signed\n", "", "1: uid takes no options", bad);
        script("open quote", "dp 1\ntext \"HI\n", "--uid|5", "2: a double quote is not closed",
               bad);
        script("option of another command", "--signed dp 1\n", "--uid|5",
               "1: --signed is not an option of dp", bad);
        script("no UID anywhere", "wait 0\ndp 1\n", "", "2: no UID", bad);
        // A line ends at LF or CR LF; any other control character is refused, even quoted.
        script("CR CR LF", "dp 1\r\ntext HI\r\r\n", "--uid|5",
               "2: a carriage return \\x0d inside the line", bad);
        script("NUL in quotes", QByteArray("text \"A\0B\"\n", 10), "--uid|5",
               "1: the control character \\x00; send such bytes with raw", bad);
        script("uid line with a sign", "uid +5\n", "", "1: uid: \"+5\" is not a UID", bad);
        script("not UTF-8", "dp 1\ntext \"\xe9t\xe9\"\ndp 2\n", "--uid|1", "2: not UTF-8", bad);
        script("a megabyte line quoted cut short", "dp 1\nraw " + QByteArray(1 << 20, 'x'),
               "--uid|5", "2: raw: \"" + QString(40, 'x') + "...\" is not hex bytes", bad);
    }
    void run()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, script);
        QFETCH(QString, expected);
        QFETCH(int, status);
        QStringList words = args.split('|', Qt::SkipEmptyParts);
        QString prefix = "quendra-send: ";
        if (!script.isNull()) {
            words << "--script" << writeScript(script);
            prefix += words.last() + ':';
        }
        QString out, err;
        QCOMPARE(runSend(words, &out, &err), status);
        if (status == send::Sent) {
            QCOMPARE(out, expected);
            QCOMPARE(err, QString());
        } else {
            QVERIFY2(script.isNull() ? err.startsWith(prefix) && err.contains(expected)
                                     : err.startsWith(prefix + expected),
                     qPrintable(err));
            QCOMPARE(err.count('\n'), 1);
            QVERIFY(err.size() < 200 + prefix.size());
            QCOMPARE(out, QString());
        }
    }

    // A device name goes to the terminal escaped, multibyte characters kept.
    void portNameEscaped()
    {
        const auto [status, out, err] =
            runToEnd(QUENDRA_SEND_PATH, {"--port", "/dev/x\u00e9\x1b[31m\x07", "raw", "01"}, 30000);
        QCOMPARE(status, int(send::PortFailure));
        QVERIFY2(err.contains("/dev/x\xc3\xa9\\x1b[31m\\x07"), err.constData());
        QVERIFY(
            std::none_of(err.cbegin(), err.cend() - 1, [](char c) { return quint8(c) < 0x20; }));
    }

    // A script line's words, split as a shell splits simple quoting.
    void scriptWords_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        // Escaped rather than raw: moc cannot read a raw string with quotes in it.
        // NOLINTBEGIN(modernize-raw-string-literal)
        const std::pair<const char*, const char*> rows[] = {
            {"  a \tb  c ", "[a][b][c]"},
            {"'a b' \"c d\"e", "[a b][c de]"},
            {"\"a\\\"b\\\\c\\n\"", "[a\"b\\c\\n]"},
            {"'a\\\"b'", "[a\\\"b]"},
            {"a\\ b\\'", "[a b']"},
            {"text \"\"", "[text][]"},
            {"dp 5 # five", "[dp][5]"},
            {"x#y '#'", "[x#y][#]"},
            {"text 'HI", "a single quote is not closed"},
            {"text HI\\", "a backslash ends the line"}};
        // NOLINTEND(modernize-raw-string-literal)
        for (const auto& [line, expected] : rows)
            QTest::newRow(line) << QString(line) << QString(expected);
    }
    void scriptWords()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        const Checked<QStringList> words = send::splitWords(line);
        QString got = words.message();
        for (const QString& word : words ? *words : QStringList())
            got += '[' + word + ']';
        QCOMPARE(got, expected);
    }

    // The line goes away during a pause: the next frame's line is named.
    void scriptStopsAtAFailingLine()
    {
        Pty pty;
        const QString path = writeScript("uid 5\ndp 1\ndp 2\nwait 1500\ndp 3\ndp 4\n");
        ::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC);
        QProcess p;
        p.start(QUENDRA_SEND_PATH, {"--port", pty.devicePath(), "--script", path});
        QByteArray got;
        pollUntil(5000, [&] { return (got += pty.read(100, 10)).size() >= 6; });
        QCOMPARE(got.toHex(' '), QByteArray("05 63 01 05 63 02"));
        pty.vanish();
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), int(send::PortFailure));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.startsWith("quendra-send: " + path + ":5: ") &&
                     err.endsWith("; 2 frames confirmed before it\n"),
                 qPrintable(err));
    }

    // The times in minutes and hours, the time left rounded up.
    void progressLine_data()
    {
        QTest::addColumn<send::ProgressFigures>("figures");
        QTest::addColumn<QString>("expected");
        QTest::newRow("minutes") << send::ProgressFigures{4200, 100000, 4192, 36900, 831000, 115.4}
                                 << "4200 of 100000 frames sent, 4192 confirmed, 115 frames/s, "
                                    "0:36 gone, 13:51 left";
        QTest::newRow("hours, a slow rate")
            << send::ProgressFigures{1, 1, 0, 3723000, 1, 2.54}
            << "1 of 1 frame sent, 0 confirmed, 2.5 frames/s, 1:02:03 gone, 0:01 left";
        QTest::newRow("done") << send::ProgressFigures{2, 2, 2, 1300, 0, 0}
                              << "2 of 2 frames sent, 2 confirmed, 0.0 frames/s, 0:01 gone, "
                                 "0:00 left";
    }
    void progressLine()
    {
        QFETCH(send::ProgressFigures, figures);
        QTEST(send::progressLine(figures), "expected");
    }

    // Before the first frame: the frames' own time at the line's settings, and the pauses.
    void progressBeforeTheFirstFrame()
    {
        QTextStream err(stderr);
        QCOMPARE(send::Progress(err, false, 100000, 60000, 3.125).figures(0).leftMs,
                 312500 + 60000);
    }

    // A run over a second shows its progress in place on a terminal, the last
    // figures kept; none with --quiet, to a pipe, or for a shorter run.
    void progressOnATerminal_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("waitMs");
        QTest::newRow("terminal") << true << "" << 1300;
        QTest::newRow("terminal, --quiet") << true << "--quiet" << 1300;
        QTest::newRow("pipe") << false << "" << 1300;
        QTest::newRow("terminal, a short run") << true << "" << 0;
    }
    void progressOnATerminal()
    {
        QFETCH(bool, terminal);
        QFETCH(QString, option);
        QFETCH(int, waitMs);
        Pty line;
        Pty screen;
        const QString path = writeScript("dp 1\nwait " + QByteArray::number(waitMs) + "\ndp 2\n");
        QStringList args{"--port", line.devicePath(), "--uid", "1", "--script", path};
        if (!option.isEmpty())
            args << option;
        QProcess p;
        if (terminal)
            p.setStandardErrorFile(screen.devicePath());
        p.start(QUENDRA_SEND_PATH, args);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), int(send::Sent));
        QCOMPARE(line.read().toHex(' '), QByteArray("01 63 01 01 63 02"));
        const QByteArray drawn = terminal ? screen.read(100) : p.readAllStandardError();
        if (!option.isEmpty() || !terminal || waitMs == 0) {
            QCOMPARE(drawn, QByteArray());
            return;
        }
        // Each drawing goes back to the line's start and erases what is left.
        const QList<QByteArray> drawings = drawn.split('\r').mid(1);
        QVERIFY2(!drawings.isEmpty() && drawn.startsWith('\r'), drawn.constData());
        static const QRegularExpression shape(
            "^[12] of 2 frames sent, [12] confirmed, [0-9.]+ frames/s, 0:01 gone, 0:0[01] "
            "left\x1b\\[K$");
        for (const QByteArray& drawing : drawings.mid(0, drawings.size() - 1))
            QVERIFY2(shape.match(QString::fromUtf8(drawing)).hasMatch(), drawing.constData());
        QVERIFY2(drawings.last().startsWith("2 of 2 frames sent, 2 confirmed, ") &&
                     drawings.last().endsWith(" 0:01 gone, 0:00 left\x1b[K\n"),
                 drawings.last().constData());
    }

    // Each --help example gives a frame; the man page has every command.
    void commandTable()
    {
        QFile manPage(QUENDRA_SEND_MANPAGE);
        QVERIFY(manPage.open(QIODevice::ReadOnly));
        const QString man = QString::fromUtf8(manPage.readAll());
        for (const send::Command& command : send::commands()) {
            const QRegularExpression entry(QStringLiteral("^\\.B[IR] %1\\b").arg(command.name),
                                           QRegularExpression::MultilineOption);
            QVERIFY2(man.contains(entry), command.name);
            QVERIFY(!command.examples.isEmpty());
            for (const QString& example : command.examples) {
                const Checked<QStringList> words = send::splitWords(example);
                QVERIFY(words);
                QCOMPARE(words->value(0), QString(command.name));
                QString out, err;
                QCOMPARE(runSend(QStringList{"--dry-run", "--uid", "1"} + *words, &out, &err),
                         int(send::Sent));
            }
        }
    }

    // COMn through the ini's "Ports" (present, absent, network, the platform's
    // default); a send with no options goes to CommPort, to SlaveID.
    void listPorts_data()
    {
        QTest::addColumn<bool>("json");
        QTest::newRow("columns") << false;
        QTest::newRow("json") << true;
    }
    void listPorts()
    {
        QFETCH(bool, json);
        Pty pty;
        TestIni ini("[Settings]\nCommPort=1\nSetting=19200,n,8,1\nSlaveID=7\n[Ports]\nCOM1=" +
                    pty.devicePath().toUtf8() +
                    "\nCOM2=/dev/serial/by-id/usb-gone-if00\nCOM3=rfc2217://10.0.0.9:4001\n");
        QString out, err;
        QCOMPARE(runSend(json ? QStringList{"--list-ports", "--json"} : QStringList{"--list-ports"},
                         &out, &err, send::Defaults::fromIni()),
                 int(send::Sent));
        QCOMPARE(err, QString());
        QStringList rows; // "COMn device from state"
        if (json) {
            for (const QJsonValue p : QJsonDocument::fromJson(out.toUtf8())["ports"].toArray())
                rows << p["port"].toString() + ' ' + p["device"].toString() + ' ' +
                            p["from"].toString() + ' ' + p["state"].toString();
        } else {
            for (const QString& line : out.split('\n').filter(QRegularExpression("^  COM")))
                rows << line.simplified();
        }
        QCOMPARE(rows.size(), 6);
        QCOMPARE(rows.mid(0, 3).join('\n'),
                 "COM1 " + pty.devicePath() + " quendra.ini present\n" +
                     "COM2 /dev/serial/by-id/usb-gone-if00 quendra.ini absent\n" +
                     "COM3 rfc2217://10.0.0.9:4001 quendra.ini network");
        QVERIFY(rows.at(3).startsWith("COM4 " + platformPortName(4) + " default "));
        QCOMPARE(runSend({"dp", "3"}, &out, &err, send::Defaults::fromIni()), int(send::Sent));
        QCOMPARE(pty.read().toHex(' '), QByteArray("07 63 03"));
    }
};

QTEST_GUILESS_MAIN(tst_Send)
#include "tst_send.moc"
