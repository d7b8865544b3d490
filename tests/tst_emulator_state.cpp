#include "protocol/decode.h"

using protocol::decodeBurst;
using protocol::ReceivedFrame;
#include "tools/emulator/ModuleState.h"
#include "tools/emulator/SegmentFont.h"

#include <QtTest>

// A frame as "cmd UID CODE PAYLOAD", "cfg BAUD UID" or "bad BYTES", in unspaced hex.
static QString describe(const ReceivedFrame& f)
{
    if (f.kind == ReceivedFrame::Kind::Malformed)
        return "bad " + f.bytes.toHex();
    if (f.kind == ReceivedFrame::Kind::Configuration)
        return "cfg " + (QByteArray(1, char(f.baudCode)) + char(f.newUid)).toHex();
    return "cmd " + (QByteArray(1, char(f.uid)) + char(f.code) + f.payload).toHex();
}

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
    void decode_data()
    {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<QStringList>("frames");
        const auto row = [](const char* name, const char* hex, const QStringList& frames) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << frames;
        };
        // Each command code has its own payload length: a wrong one splits these wrongly.
        row("every code, merged",
            "0561ff0180400224 02633f 016412345678 0165ffffffff 01661234 "
            "01678000 1e1e0905 1e62414243444546 0762000000000000 016e",
            {"cmd 0561ff0180400224", "cmd 02633f", "cmd 016412345678", "cmd 0165ffffffff",
             "cmd 01661234", "cmd 01678000", "cfg 0905", "cmd 1e62414243444546",
             "cmd 0762000000000000", "cmd 016e"});
        row("brightness swallows what follows", "1e6e01630a1e1e0907", {"cmd 1e6e01630a1e1e0907"});
        row("lone byte", "01", {"bad 01"});
        row("unknown code after a frame", "01630a01414243", {"cmd 01630a", "bad 01414243"});
    }
    void decode()
    {
        QFETCH(QByteArray, burst);
        QStringList got;
        QByteArray joined;
        for (const ReceivedFrame& f : decodeBurst(burst)) {
            got << describe(f);
            joined += f.bytes;
        }
        QTEST(got, "frames");
        QCOMPARE(joined.toHex(), burst.toHex()); // every byte in exactly one frame, in order
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
        row("0164000f4240", "00 00 00 d7 a5 86", "1000000, overflow");
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
};

QTEST_APPLESS_MAIN(tst_EmulatorState)
#include "tst_emulator_state.moc"
