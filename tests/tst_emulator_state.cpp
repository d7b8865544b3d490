#include "Decoder.h"
#include "ModuleLine.h"
#include "ModuleState.h"
#include "SegmentFont.h"

#include <QtTest>

namespace {

// A frame as "cmd UID CODE PAYLOAD", "cfg BAUD UID" or "bad BYTES".
QString describe(const ReceivedFrame& f)
{
    const auto hex = [](const QByteArray& b) { return QString(b.toHex()); };
    switch (f.kind) {
    case ReceivedFrame::Kind::Command:
        return ("cmd " + hex(QByteArray(1, char(f.uid)) + char(f.code)) + " " + hex(f.payload))
            .trimmed();
    case ReceivedFrame::Kind::Configuration:
        return "cfg " + hex(QByteArray(1, char(f.baudCode)) + char(f.newUid));
    case ReceivedFrame::Kind::Malformed:
        return "bad " + hex(f.bytes);
    }
    return {};
}

// Feeds one burst; returns the meaning of its last frame.
QString feed(ModuleState& state, const QByteArray& hex)
{
    QString meaning;
    for (const ReceivedFrame& f : decodeBurst(QByteArray::fromHex(hex)))
        meaning = state.apply(f);
    return meaning;
}

// The six patterns shown, leftmost first, as hex.
QByteArray shown(const ModuleState& state)
{
    QByteArray bytes;
    for (int i = 0; i < ModuleState::Positions; ++i)
        bytes.append(char(state.shown(i)));
    return bytes.toHex(' ');
}

QByteArray glyphs(const QString& text)
{
    QByteArray bytes;
    for (QChar c : text)
        bytes.append(char(segment::glyph(quint8(c.toLatin1()))));
    return bytes.toHex(' ');
}

} // namespace

// The emulator's logic in-process: bursts off the line into frames, what
// the module shows and keeps after them, and when a burst ends.
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
        row("nothing", "", {});
        row("text, uid 1", "0162202020204849", {"cmd 0162 202020204849"});
        // Each command code has its own payload length: a wrong one splits these wrongly.
        row("every command code, merged",
            "0561ff0180400224 02633f 016412345678 0165ffffffff 01661234 01678000 1e1e0905 0162",
            {"cmd 0561 ff0180400224", "cmd 0263 3f", "cmd 0164 12345678", "cmd 0165 ffffffff",
             "cmd 0166 1234", "cmd 0167 8000", "cfg 0905", "bad 0162"});
        row("zero bytes are ordinary", "0061000000000000", {"cmd 0061 000000000000"});
        row("frame for another uid", "07630a", {"cmd 0763 0a"});
        // Brightness takes whatever payload was left in the panel.
        const QByteArray tail = QByteArray::fromHex("1e24070102ff");
        for (int n = 0; n <= 6; ++n)
            QTest::addRow("brightness with %d trailing bytes", n)
                << QByteArray::fromHex("016e") + tail.left(n)
                << QStringList{("cmd 016e " + tail.left(n).toHex()).trimmed()};
        row("brightness swallows what follows", "016e01630a", {"cmd 016e 01630a"});
        row("configuration", "1e1e2407", {"cfg 2407"});
        row("uid 0x1e text", "1e62414243444546", {"cmd 1e62 414243444546"});
        row("uid 0x1e brightness after configuration", "1e6e1e0907", {"cmd 1e6e 1e0907"});
        row("lone byte", "01", {"bad 01"});
        row("unknown code", "01414243", {"bad 01414243"});
        row("configuration cut short", "1e1e24", {"bad 1e1e24"});
        row("stray byte after a frame", "01630a05", {"cmd 0163 0a", "bad 05"});
    }
    void decode()
    {
        QFETCH(QByteArray, burst);
        QFETCH(QStringList, frames);
        QStringList got;
        QByteArray joined;
        for (const ReceivedFrame& f : decodeBurst(burst)) {
            got << describe(f);
            joined += f.bytes;
        }
        QCOMPARE(got, frames);
        // Every byte of the burst belongs to exactly one frame, in order.
        QCOMPARE(joined.toHex(' '), burst.toHex(' '));
    }

    // shown: patterns worked out by hand from the bit order f c g b dp e d a,
    // so a wrong bit or a wrong shape both show; or "=text" in the font.
    void shows_data()
    {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("meaning"); // part of the last frame's meaning
        const auto row = [](const char* name, const char* burst, const char* shown,
                            const char* meaning) {
            QTest::newRow(name) << QByteArray(burst) << QString(shown) << QString(meaning);
        };
        row("    HI", "0162202020204849", "00 00 00 00 f4 84", "UID 1 text '    HI'");
        row("012345", "0162303132333435", "d7 50 37 73 f0 e3", "");
        row("minus underscore 8", "01622d205f202038", "20 00 02 00 00 f7", "");
        row("b and B alike, c and C apart", "0162624263432020", "e6 e6 26 87 00 00", "");
        row("undrawable and control bytes", "01624b4d3f001eff", "00 00 00 00 00 00", "");
        row("long unsigned 999999", "0164000f423f", "=999999", "unsigned 999999");
        row("long unsigned 1000000", "0164000f4240", "=   OFL", " 1000000");
        row("long, high byte first", "016400000102", "=   258", " 258");
        row("long signed -1", "0165ffffffff", "=    -1", "signed -1");
        row("long signed -99999", "0165fffe7961", "=-99999", " -99999");
        row("long signed -100000", "0165fffe7960", "=  -OFL", " -100000");
        row("long signed top", "01657fffffff", "=   OFL", " 2147483647");
        row("short unsigned top", "0166ffff", "= 65535", "unsigned 65535");
        row("short signed bottom", "01678000", "=-32768", "signed -32768");
        row("short signed top", "01677fff", "= 32767", " 32767");
        // Frames for other modules, or malformed, change nothing.
        const QByteArray first = "0162313233343536";
        row("text for UID 7", first + "0762202020204849", "=123456", "text for UID 7, ignored");
        row("brightness for UID 255", first + "ff6e", "=123456", "brightness for UID 255, ignored");
        row("malformed", first + "0162", "=123456", "malformed: text needs 6 payload bytes, got 0");
    }
    void shows()
    {
        QFETCH(QByteArray, burst);
        QFETCH(QString, shown);
        QFETCH(QString, meaning);
        ModuleState state(1);
        const QString got = feed(state, burst);
        QCOMPARE(::shown(state), shown.startsWith('=') ? glyphs(shown.mid(1)) : shown.toLatin1());
        QVERIFY2(got.contains(meaning), qPrintable(got));
        QCOMPARE(got.contains("overflow"), shown.contains("OFL"));
        QVERIFY(!state.isDim());
    }

    // One bit at a time, at every position, lands on its segment; the font
    // draws glyphs from these names.
    void segmentBits()
    {
        const quint8 order[] = {segment::A, segment::D, segment::E, segment::DP,
                                segment::B, segment::G, segment::C, segment::F};
        for (int bit = 0; bit < 8; ++bit) {
            QCOMPARE(int(order[bit]), 1 << bit);
            for (int position = 0; position < ModuleState::Positions; ++position) {
                ModuleState state(1);
                QByteArray segments(6, '\0');
                segments[position] = char(1 << bit);
                feed(state, "0161" + segments.toHex());
                QCOMPARE(shown(state), segments.toHex(' '));
            }
        }
    }

    void decimalPoints_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("points"); // per position, leftmost first
        QTest::newRow("1 rightmost") << 1 << QByteArray("000000000008");
        QTest::newRow("32 leftmost") << 32 << QByteArray("080000000000");
        QTest::newRow("5 third and first from right") << 5 << QByteArray("000000080008");
        QTest::newRow("63 all") << 63 << QByteArray("080808080808");
    }
    void decimalPoints()
    {
        QFETCH(int, value);
        QFETCH(QByteArray, points);
        ModuleState state(1);
        feed(state, "0162383838383838");
        feed(state, "0163" + QByteArray(1, char(value)).toHex());
        QByteArray expected = QByteArray(6, char(segment::glyph('8')));
        for (int i = 0; i < 6; ++i)
            expected[i] = char(expected[i] | QByteArray::fromHex(points)[i]);
        QCOMPARE(shown(state), expected.toHex(' '));
        // The points stay over whatever the digits show next.
        feed(state, "0162202020202031");
        QCOMPARE(int(state.shown(0) & segment::DP), int(QByteArray::fromHex(points)[0]));
        QCOMPARE(int(state.shown(5) & segment::DP), int(QByteArray::fromHex(points)[5]));
        // Bits above the six positions change nothing.
        QVERIFY(feed(state, "016340").contains("ignored"));
        QCOMPARE(int(state.decimalPoints()), value);
    }

    void brightnessToggles()
    {
        ModuleState state(1);
        feed(state, "0162202020204849");
        const QByteArray before = shown(state);
        feed(state, "016e");
        QVERIFY(state.isDim());
        feed(state, "016e1e0907"); // payload left by a configuration: ignored
        QVERIFY(!state.isDim());
        QCOMPARE(state.uid(), std::optional<quint8>(1));
        QCOMPARE(state.baudRate(), 9600);
        QCOMPARE(shown(state), before);
    }

    // From then on the module answers to its new UID only.
    void configuration_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("uid");
        QTest::addColumn<int>("baud");
        QTest::newRow("19200, uid 5") << QByteArray("1e1e1205") << 5 << 19200;
        QTest::newRow("38400, uid 0x1e") << QByteArray("1e1e091e") << 0x1e << 38400;
        QTest::newRow("unknown baud code: nothing taken") << QByteArray("1e1e3305") << 1 << 9600;
    }
    void configuration()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, uid);
        QFETCH(int, baud);
        ModuleState state(1);
        feed(state, frame);
        QCOMPARE(state.uid(), std::optional<quint8>(quint8(uid)));
        QCOMPARE(state.baudRate(), baud);
        const auto text = [](int to) { return QByteArray(1, char(to)).toHex() + "62202020202031"; };
        QVERIFY(feed(state, text(uid + 1)).endsWith("ignored"));
        QCOMPARE(shown(state), QByteArray("00 00 00 00 00 00"));
        feed(state, text(uid));
        QCOMPARE(state.shown(5), segment::glyph('1'));
    }

    void anyUidTakesEveryFrameUntilConfigured()
    {
        ModuleState state(std::nullopt);
        QCOMPARE(feed(state, "0762202020204849"), QString("UID 7 text '    HI'"));
        QCOMPARE(feed(state, "1e1e2403"), QString("configuration: UID any -> 3, 9600 baud"));
        QCOMPARE(feed(state, "07630a"), QString("decimal points for UID 7, ignored"));
    }
    // Three and a half characters of silence end a burst, and never less
    // than a pseudo-terminal needs.
    void gap()
    {
        QCOMPARE(ModuleLine::gapFor(*parseLineSettings("9600,n,8,1"), 0), 4); // 3.65 ms
        QCOMPARE(ModuleLine::gapFor(*parseLineSettings("1200,e,8,2"), 0), 35);
        const int floor = ModuleLine::PtyMinimumGapMs;
        QCOMPARE(ModuleLine::gapFor(*parseLineSettings("38400,n,8,1"), floor), floor);
    }
};

QTEST_APPLESS_MAIN(tst_EmulatorState)
#include "tst_emulator_state.moc"
