#include "Decoder.h"
#include "ModuleState.h"
#include "SegmentFont.h"

#include <QtTest>

// What the module shows and keeps after frames reach it.
class tst_EmulatorState : public QObject
{
    Q_OBJECT

private:
    // Feeds one burst; returns the meaning of its last frame.
    static QString feed(ModuleState& state, const char* hex)
    {
        QString meaning;
        for (const ReceivedFrame& f : decodeBurst(QByteArray::fromHex(hex)))
            meaning = state.apply(f);
        return meaning;
    }
    static QByteArray shown(const ModuleState& state)
    {
        QByteArray bytes;
        for (int i = 0; i < ModuleState::Positions; ++i)
            bytes.append(char(state.shown(i)));
        return bytes;
    }
    static QByteArray glyphs(const QString& text)
    {
        QByteArray bytes;
        for (QChar c : text)
            bytes.append(char(segment::glyph(quint8(c.toLatin1()))));
        return bytes;
    }

private slots:
    // Expected patterns are worked out by hand from the bit order
    // f c g b dp e d a, so a wrong bit or a wrong shape both show.
    void text_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("patterns");
        QTest::newRow("    HI") << QByteArray("    HI") << QByteArray::fromHex("00000000f484");
        QTest::newRow("012345") << QByteArray("012345") << QByteArray::fromHex("d7503773f0e3");
        QTest::newRow("minus underscore blank")
            << QByteArray("- _  8") << QByteArray::fromHex("2000020000f7");
        QTest::newRow("what no digit can draw") << QByteArray("KMVWX?") << QByteArray(6, '\0');
        QTest::newRow("control bytes")
            << QByteArray("\x00\x01\x1e\xff\x80\x7f", 6) << QByteArray(6, '\0');
        QTest::newRow("b and B alike, c and C apart")
            << QByteArray("bBcC  ") << QByteArray::fromHex("e6e626870000");
    }
    void text()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, patterns);
        ModuleState state(1);
        ReceivedFrame frame = decodeBurst(QByteArray::fromHex("0162") + payload).value(0);
        QCOMPARE(frame.kind, ReceivedFrame::Kind::Command);
        state.apply(frame);
        QCOMPARE(shown(state).toHex(' '), patterns.toHex(' '));
    }

    void segmentBits_data()
    {
        QTest::addColumn<int>("bit");
        QTest::addColumn<int>("segment");
        QTest::newRow("bit 0 is a") << 0 << int(segment::A);
        QTest::newRow("bit 1 is d") << 1 << int(segment::D);
        QTest::newRow("bit 2 is e") << 2 << int(segment::E);
        QTest::newRow("bit 3 is dp") << 3 << int(segment::DP);
        QTest::newRow("bit 4 is b") << 4 << int(segment::B);
        QTest::newRow("bit 5 is g") << 5 << int(segment::G);
        QTest::newRow("bit 6 is c") << 6 << int(segment::C);
        QTest::newRow("bit 7 is f") << 7 << int(segment::F);
    }
    void segmentBits()
    {
        QFETCH(int, bit);
        QFETCH(int, segment);
        // The glyphs are drawn from these names, so they must sit on the
        // bits the module reads.
        QCOMPARE(1 << bit, segment);
        for (int position = 0; position < ModuleState::Positions; ++position) {
            ModuleState state(1);
            QByteArray frame = QByteArray::fromHex("0161") + QByteArray(6, '\0');
            frame[2 + position] = char(1 << bit);
            feed(state, frame.toHex().constData());
            QByteArray expected(6, '\0');
            expected[position] = char(segment);
            QCOMPARE(shown(state).toHex(' '), expected.toHex(' '));
        }
    }

    void decimalPoints_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("points"); // per position, leftmost first
        QTest::newRow("0 none") << 0 << QByteArray::fromHex("000000000000");
        QTest::newRow("1 rightmost") << 1 << QByteArray::fromHex("000000000008");
        QTest::newRow("32 leftmost") << 32 << QByteArray::fromHex("080000000000");
        QTest::newRow("5 third and first from right") << 5 << QByteArray::fromHex("000000080008");
        QTest::newRow("63 all") << 63 << QByteArray::fromHex("080808080808");
    }
    void decimalPoints()
    {
        QFETCH(int, value);
        QFETCH(QByteArray, points);
        ModuleState state(1);
        feed(state, "0162"
                    "383838383838"); // "888888"
        const QByteArray eights = shown(state);
        feed(state, QByteArray::fromHex("0163").append(char(value)).toHex().constData());
        QByteArray expected = eights;
        for (int i = 0; i < 6; ++i)
            expected[i] = char(expected[i] | points[i]);
        QCOMPARE(shown(state).toHex(' '), expected.toHex(' '));
        QCOMPARE(int(state.decimalPoints()), value);

        // The points stay over whatever the digits show next.
        feed(state, "0162"
                    "202020202031");
        QCOMPARE(int(state.shown(0) & segment::DP), int(points[0]));
        QCOMPARE(int(state.shown(5) & segment::DP), int(points[5]));
    }

    void decimalPointsBeyondSixBitsChangeNothing()
    {
        ModuleState state(1);
        feed(state, "016305");
        const QString meaning = feed(state, "016340");
        QVERIFY2(meaning.contains(QLatin1String("ignored")), qPrintable(meaning));
        QCOMPARE(int(state.decimalPoints()), 5);
    }

    void numbers_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value");
        auto row = [](const char* name, const char* hex, const char* text, const char* value) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << QString::fromLatin1(text)
                                << QString::fromLatin1(value);
        };
        row("long unsigned 0", "016400000000", "     0", "0");
        row("long unsigned 999999", "0164000f423f", "999999", "999999");
        row("long unsigned 1000000", "0164000f4240", "   OFL", "1000000");
        row("long unsigned max", "0164ffffffff", "   OFL", "4294967295");
        row("long unsigned byte order", "016400000102", "   258", "258");
        row("long signed -1", "0165ffffffff", "    -1", "-1");
        row("long signed -99999", "0165fffe7961", "-99999", "-99999");
        row("long signed -100000", "0165fffe7960", "  -OFL", "-100000");
        row("long signed min", "016580000000", "  -OFL", "-2147483648");
        row("long signed max", "01657fffffff", "   OFL", "2147483647");
        row("long signed 999999", "0165000f423f", "999999", "999999");
        row("short unsigned 0", "01660000", "     0", "0");
        row("short unsigned max", "0166ffff", " 65535", "65535");
        row("short unsigned 0x8000", "01668000", " 32768", "32768");
        row("short signed min", "01678000", "-32768", "-32768");
        row("short signed max", "01677fff", " 32767", "32767");
        row("short signed -1", "0167ffff", "    -1", "-1");
    }
    void numbers()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, text);
        QFETCH(QString, value);
        ModuleState state(1);
        const QString meaning = feed(state, frame.toHex().constData());
        QCOMPARE(shown(state).toHex(' '), glyphs(text).toHex(' '));
        QVERIFY2(meaning.contains(QLatin1Char(' ') + value), qPrintable(meaning));
        QCOMPARE(meaning.contains(QLatin1String("overflow")), text.contains(QLatin1String("OFL")));
    }

    void brightnessToggles()
    {
        ModuleState state(1);
        feed(state, "0162"
                    "202020204849");
        const QByteArray before = shown(state);
        QVERIFY(!state.isDim());
        feed(state, "016e");
        QVERIFY(state.isDim());
        feed(state, "016e1e0907"); // payload left by a configuration: ignored
        QVERIFY(!state.isDim());
        QCOMPARE(state.uid(), std::optional<quint8>(1));
        QCOMPARE(state.baudRate(), 9600);
        feed(state, "016e202020204849");
        QVERIFY(state.isDim());
        QCOMPARE(shown(state).toHex(' '), before.toHex(' '));
    }

    void configuration_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("uid");
        QTest::addColumn<int>("baud");
        QTest::newRow("9600, uid 0") << QByteArray::fromHex("1e1e2400") << 0 << 9600;
        QTest::newRow("19200, uid 5") << QByteArray::fromHex("1e1e1205") << 5 << 19200;
        QTest::newRow("38400, uid 255") << QByteArray::fromHex("1e1e09ff") << 255 << 38400;
        QTest::newRow("uid 0x1e") << QByteArray::fromHex("1e1e241e") << 0x1e << 9600;
        QTest::newRow("unknown baud code: nothing taken")
            << QByteArray::fromHex("1e1e3305") << 1 << 9600;
    }
    void configuration()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, uid);
        QFETCH(int, baud);
        ModuleState state(1);
        state.apply(decodeBurst(frame).value(0));
        QCOMPARE(state.uid(), std::optional<quint8>(quint8(uid)));
        QCOMPARE(state.baudRate(), baud);

        // From then on the module answers to its new UID only.
        const quint8 other = quint8(uid + 1);
        QByteArray text = QByteArray(1, char(other)) + QByteArray::fromHex("62202020202031");
        QVERIFY(state.apply(decodeBurst(text).value(0)).endsWith(QLatin1String("ignored")));
        QCOMPARE(shown(state), QByteArray(6, '\0'));
        text[0] = char(uid);
        state.apply(decodeBurst(text).value(0));
        QCOMPARE(state.shown(5), segment::glyph('1'));
    }

    void otherUidsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("meaning");
        QTest::newRow("text") << QByteArray::fromHex("0762202020204849")
                              << "text for UID 7, ignored";
        QTest::newRow("segments") << QByteArray::fromHex("0061ffffffffffff")
                                  << "segments for UID 0, ignored";
        QTest::newRow("decimal points")
            << QByteArray::fromHex("1e633f") << "decimal points for UID 30, ignored";
        QTest::newRow("brightness")
            << QByteArray::fromHex("ff6e") << "brightness for UID 255, ignored";
        QTest::newRow("malformed")
            << QByteArray::fromHex("0162") << "malformed: text needs 6 payload bytes, got 0";
        QTest::newRow("unknown code")
            << QByteArray::fromHex("0141") << "malformed: unknown command code 0x41";
    }
    void otherUidsChangeNothing()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, meaning);
        ModuleState state(1);
        feed(state, "0162"
                    "313233343536");
        feed(state, "016305");
        const QByteArray before = shown(state);
        QCOMPARE(state.apply(decodeBurst(frame).value(0)), meaning);
        QCOMPARE(shown(state).toHex(' '), before.toHex(' '));
        QVERIFY(!state.isDim());
    }

    void anyUidTakesEveryFrameUntilConfigured()
    {
        ModuleState state(std::nullopt);
        QCOMPARE(state.uidText(), QStringLiteral("any"));
        QCOMPARE(feed(state, "0762202020204849"), QStringLiteral("UID 7 text '    HI'"));
        QCOMPARE(feed(state, "1e1e2403"), QStringLiteral("configuration: UID any -> 3, 9600 baud"));
        QCOMPARE(feed(state, "07630a"), QStringLiteral("decimal points for UID 7, ignored"));
    }
};

QTEST_APPLESS_MAIN(tst_EmulatorState)
#include "tst_emulator_state.moc"
