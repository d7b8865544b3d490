#include "protocol/decode.h"
#include "tools/emulator/ModuleBus.h"
#include "tools/emulator/ModuleState.h"
#include "tools/emulator/Options.h"
#include "tools/emulator/SegmentFont.h"

#include <QtTest>

using protocol::decodeBurst;
using protocol::ReceivedFrame;

static QString feed(ModuleState& state, const QByteArray& hex)
{
    QString meaning;
    for (const ReceivedFrame& f : decodeBurst(QByteArray::fromHex(hex)))
        meaning = state.apply(f);
    return meaning;
}

static QByteArray shown(const ModuleState& state)
{
    QByteArray bytes;
    for (int i = 0; i < protocol::DisplayPositions; ++i)
        bytes.append(char(state.shown(i)));
    return bytes.toHex(' ');
}

class tst_EmulatorState : public QObject
{
    Q_OBJECT

private slots:
    // The command line read in-process: what it picks, or the start of why not.
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected"); // "pty|port LINE UIDS GAP", or "!" and the reason
        const auto row = [](const char* name, const QStringList& args, const QString& expected) {
            QTest::newRow(name) << QStringList{"quendra-emulator"} + args << expected;
        };
        row("pty, defaults", {"--pty"}, "pty 9600,n,8,1 1 0");
        row("port, modules, gap", {"--port", "/dev/x", "--modules", "3", "--gap", "9"},
            "port 9600,n,8,1 1,2,3 9");
        row("any UID, any case", {"--pty", "--uid", "ANY"}, "pty 9600,n,8,1 any 0");
        row("UID list", {"--pty", "--uid", "1, 2,5"}, "pty 9600,n,8,1 1,2,5 0");
        row("UID twice", {"--pty", "--uid", "2,1,2"}, "!--uid \"2,1,2\" gives UID 2 twice");
        row("any in a list", {"--pty", "--uid", "any,2"},
            "!--uid \"any,2\" is neither 0..255, a list like 1,2,5, nor any");
        row("UID 256", {"--pty", "--uid", "1,256"}, "!--uid \"1,256\" is neither");
        row("17 UIDs", {"--pty", "--uid", "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16"},
            "!--uid \"0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16\" names 17 modules; at most 16");
        row("no modules", {"--pty", "--modules", "0"}, "!--modules \"0\" is not 1..16");
        row("17 modules", {"--pty", "--modules", "17"}, "!--modules \"17\" is not 1..16");
        row("option twice", {"--pty", "--modules", "2", "--modules", "3"},
            "!--modules given twice");
        row("uid and modules", {"--pty", "--uid", "2", "--modules", "3"},
            "!give --uid or --modules");
        row("both lines", {"--pty", "--port", "/dev/x"}, "!give exactly one of --pty or --port");
        row("link without pty", {"--port", "/dev/x", "--link", "/tmp/l"},
            "!--link goes with --pty");
        row("gap 0", {"--pty", "--gap", "0"}, "!--gap \"0\" is not 1..10000 ms");
        // A number takes no sign and no blanks.
        row("gap with a blank", {"--pty", "--gap", " 9"}, "!--gap \" 9\" is not 1..10000 ms");
        row("modules with a sign", {"--pty", "--modules", "+3"}, "!--modules \"+3\" is not 1..16");
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        const Checked<EmulatorOptions> o = parseEmulatorOptions(args);
        if (!o) {
            QVERIFY2(expected.startsWith('!') && o.message().startsWith(expected.mid(1)),
                     qPrintable(o.message()));
            return;
        }
        QStringList uids;
        for (const std::optional<quint8>& uid : o->uids)
            uids << (uid ? QString::number(*uid) : QString("any"));
        QCOMPARE(QString("%1 %2 %3 %4")
                     .arg(o->pty ? "pty" : "port", formatLineSettings(o->line), uids.join(','))
                     .arg(o->gapMs),
                 expected);
    }

    // Patterns worked out by hand from the bit order f c g b dp e d a.
    void shows_data()
    {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<QByteArray>("shown");
        QTest::addColumn<QString>("meaning"); // part of the last frame's meaning
        const auto row = [](const char* burst, const char* shown, const char* meaning) {
            QTest::newRow(burst) << QByteArray(burst) << QByteArray(shown) << QString(meaning);
        };
        row("01622d5f30314b00", "20 02 d7 50 00 00", "UID 1 text '-_01K"); // K undrawable
        row("0161010204084080", "01 02 04 08 40 80", "segments");
        // Points stay over the next text; bits above the six positions are ignored.
        row("01633f016325 0162202020202031 016340", "08 00 00 08 00 58", "ignored");
        row("0164000f423f", "f3 f3 f3 f3 f3 f3", "unsigned 999999");
        row("0164000f4240", "00 00 00 d7 a5 86", "1000000, overflow: shows OFL");
        row("0165fffe7961", "20 f3 f3 f3 f3 f3", "signed -99999");
        row("0165fffe7960", "00 00 20 d7 a5 86", "-100000, overflow");
        row("01678000", "20 73 37 51 e7 f7", "signed -32768");
        row("016400000102 0762202020204849", "00 00 00 37 e3 f7",
            "UID 7, ignored"); // 258: high byte first
        row("016400000102 0162", "00 00 00 37 e3 f7", "malformed");
    }
    void shows()
    {
        QFETCH(QByteArray, burst);
        QFETCH(QString, meaning);
        ModuleState state(1);
        const QString got = feed(state, burst);
        QTEST(shown(state), "shown");
        QVERIFY2(got.contains(meaning), qPrintable(got));
    }
    // Any UID until configured, then its new UID only; brightness toggles, the rest stays.
    void configurationAndBrightness()
    {
        ModuleState state(std::nullopt);
        QCOMPARE(feed(state, "0762202020204849"), QString("UID 7 text '    HI'"));
        QVERIFY(feed(state, "1e1e3305").endsWith("0x33, ignored"));
        QCOMPARE(feed(state, "1e1e091e"), QString("configuration: UID any -> 30, 38400 baud"));
        QVERIFY(feed(state, "07630a").endsWith("ignored"));
        QCOMPARE(feed(state, "1e6e"), QString("UID 30 brightness: dim"));
        feed(state, "1e6e1e0907"); // payload left by a configuration: ignored
        QVERIFY(!state.isDim());
        QCOMPARE(shown(state), QByteArray("00 00 00 00 f4 84")); // kept through it all
    }
    // What the last frame of a burst meant, the line's warnings, and which
    // modules light any segment afterwards.
    void bus_data()
    {
        QTest::addColumn<QString>("uids");
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("lit");
        const auto row = [](const char* name, const char* uids, const char* hex,
                            const QStringList& lines, const char* lit) {
            QTest::newRow(name) << QString(uids) << QByteArray::fromHex(hex) << lines
                                << QString(lit);
        };
        row("UID 2 reaches module 2 only", "1,2,5", "0262202020204849",
            {"module 2 (UID 2): text '    HI'"}, "010");
        row("unknown UID", "1,2", "07630a", {"decimal points for UID 7: no module has UID 7"},
            "00");
        row("lone module keeps its words", "1", "0762202020204849", {"text for UID 7, ignored"},
            "0");
        row("any takes every UID", "any", "0762202020204849 0962202020204849",
            {"UID 9 text '    HI'"}, "1");
        row("bytes no module can read, said once", "1,2", "0141",
            {"malformed: unknown command code 0x41"}, "00");
        row("configuration: every module takes it", "1,2,5", "1e1e1209",
            {"module 1 (UID 1): configuration: UID 1 -> 9, 19200 baud",
             "module 2 (UID 2): configuration: UID 2 -> 9, 19200 baud",
             "module 3 (UID 5): configuration: UID 5 -> 9, 19200 baud",
             "3 modules now share UID 9"},
            "000");
        row("refused configuration changes no UID", "1,2", "1e1e3309",
            {"module 1 (UID 1): configuration with unknown baud code 0x33, ignored",
             "module 2 (UID 2): configuration with unknown baud code 0x33, ignored"},
            "00");
        row("shared UID: each module takes the frame", "1,2", "1e1e2409 0962202020204849",
            {"module 1 (UID 9): text '    HI' (2 modules share UID 9: each took it)",
             "module 2 (UID 9): text '    HI' (2 modules share UID 9: each took it)"},
            "11");
    }
    void bus()
    {
        QFETCH(QString, uids);
        QFETCH(QByteArray, burst);
        QFETCH(QStringList, lines);
        const auto parsed = ModuleBus::parseUids(uids);
        QVERIFY2(parsed, qPrintable(parsed.message()));
        ModuleBus bus(*parsed);
        ModuleBus::Outcome last;
        for (const ReceivedFrame& f : decodeBurst(burst))
            last = bus.apply(f);
        QCOMPARE(last.meanings + last.warnings, lines);
        QString lit;
        for (const ModuleState& module : bus.modules())
            lit += shown(module) == "00 00 00 00 00 00" ? '0' : '1';
        QTEST(lit, "lit");
        QCOMPARE(bus.baudRate(), burst.startsWith("\x1e\x1e\x12") ? 19200 : 9600);
    }
};

QTEST_APPLESS_MAIN(tst_EmulatorState)
#include "tst_emulator_state.moc"
