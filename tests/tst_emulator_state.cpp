#include "Decoder.h"
#include "ModuleState.h"
#include "SegmentFont.h"

#include <QtTest>

namespace {

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

} // namespace

// What the module shows and keeps after frames reach it.
class tst_EmulatorState : public QObject
{
    Q_OBJECT

private slots:
    // Patterns worked out by hand from the bit order f c g b dp e d a, so a
    // wrong bit or a wrong shape both show.
    void text_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("patterns");
        QTest::newRow("    HI") << QByteArray("    HI") << QByteArray("00 00 00 00 f4 84");
        QTest::newRow("012345") << QByteArray("012345") << QByteArray("d7 50 37 73 f0 e3");
        QTest::newRow("minus underscore 8")
            << QByteArray("- _  8") << QByteArray("20 00 02 00 00 f7");
        QTest::newRow("b and B alike, c and C apart")
            << QByteArray("bBcC  ") << QByteArray("e6 e6 26 87 00 00");
        QTest::newRow("undrawable and control bytes")
            << QByteArray("KM?\x00\x1e\xff", 6) << QByteArray("00 00 00 00 00 00");
    }
    void text()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, patterns);
        ModuleState state(1);
        feed(state, "0162" + payload.toHex());
        QCOMPARE(shown(state), patterns);
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
        QTest::newRow("0 none") << 0 << QByteArray("000000000000");
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
        feed(state, "0162" + QByteArray("888888").toHex());
        feed(state, "0163" + QByteArray(1, char(value)).toHex());
        QByteArray expected = QByteArray(6, char(segment::glyph('8')));
        for (int i = 0; i < 6; ++i)
            expected[i] = char(expected[i] | QByteArray::fromHex(points)[i]);
        QCOMPARE(shown(state), expected.toHex(' '));
        // The points stay over whatever the digits show next.
        feed(state, "0162" + QByteArray("     1").toHex());
        QCOMPARE(int(state.shown(0) & segment::DP) + int(state.shown(5) & segment::DP),
                 int(QByteArray::fromHex(points)[0]) + int(QByteArray::fromHex(points)[5]));
        // Bits above the six positions change nothing.
        QVERIFY(feed(state, "016340").contains("ignored"));
        QCOMPARE(int(state.decimalPoints()), value);
    }

    void numbers_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value");
        const auto row = [](const char* hex, const char* text, const char* value) {
            QTest::newRow(value) << QByteArray(hex) << QString(text) << QString(value);
        };
        row("0164000f423f", "999999", "999999");
        row("0164000f4240", "   OFL", "1000000");
        row("016400000102", "   258", "258"); // most significant byte first
        row("0165ffffffff", "    -1", "-1");
        row("0165fffe7961", "-99999", "-99999");
        row("0165fffe7960", "  -OFL", "-100000");
        row("01657fffffff", "   OFL", "2147483647");
        row("0166ffff", " 65535", "65535");
        row("01678000", "-32768", "-32768");
        row("01677fff", " 32767", "32767");
    }
    void numbers()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, text);
        QFETCH(QString, value);
        ModuleState state(1);
        const QString meaning = feed(state, frame);
        QByteArray glyphs;
        for (QChar c : text)
            glyphs.append(char(segment::glyph(quint8(c.toLatin1()))));
        QCOMPARE(shown(state), glyphs.toHex(' '));
        QVERIFY2(meaning.contains(' ' + value), qPrintable(meaning));
        QCOMPARE(meaning.contains("overflow"), text.contains("OFL"));
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
        const QByteArray text =
            QByteArray("62202020202031").prepend(QByteArray(1, char(uid + 1)).toHex());
        QVERIFY(feed(state, text).endsWith("ignored"));
        QCOMPARE(shown(state), QByteArray("00 00 00 00 00 00"));
        feed(state, QByteArray(1, char(uid)).toHex() + text.mid(2));
        QCOMPARE(state.shown(5), segment::glyph('1'));
    }

    void otherUidsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("meaning");
        QTest::newRow("text") << QByteArray("0762202020204849") << "text for UID 7, ignored";
        QTest::newRow("brightness") << QByteArray("ff6e") << "brightness for UID 255, ignored";
        QTest::newRow("malformed")
            << QByteArray("0162") << "malformed: text needs 6 payload bytes, got 0";
    }
    void otherUidsChangeNothing()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, meaning);
        ModuleState state(1);
        feed(state, "0162313233343536016305");
        const QByteArray before = shown(state);
        QCOMPARE(feed(state, frame), meaning);
        QCOMPARE(shown(state), before);
        QVERIFY(!state.isDim());
    }

    void anyUidTakesEveryFrameUntilConfigured()
    {
        ModuleState state(std::nullopt);
        QCOMPARE(feed(state, "0762202020204849"), QString("UID 7 text '    HI'"));
        QCOMPARE(feed(state, "1e1e2403"), QString("configuration: UID any -> 3, 9600 baud"));
        QCOMPARE(feed(state, "07630a"), QString("decimal points for UID 7, ignored"));
    }
};

QTEST_APPLESS_MAIN(tst_EmulatorState)
#include "tst_emulator_state.moc"
