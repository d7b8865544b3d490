#include "protocol/ansi.h"
#include "protocol/decode.h"
#include "protocol/hex.h"
#include "protocol/numbers.h"
#include "protocol/printable.h"
#include "protocol/protocol.h"

#include <QtTest>

using namespace protocol;

class tst_Protocol : public QObject
{
    Q_OBJECT

    // A frame as "cmd UID CODE PAYLOAD", "cfg BAUD UID" or "bad BYTES", in unspaced hex.
    static QString describe(const ReceivedFrame& f)
    {
        if (f.kind == ReceivedFrame::Kind::Malformed)
            return "bad " + f.bytes.toHex();
        if (f.kind == ReceivedFrame::Kind::Configuration)
            return "cfg " + (QByteArray(1, char(f.baudCode)) + char(f.newUid)).toHex();
        return "cmd " + (QByteArray(1, char(f.uid)) + char(f.code) + f.payload).toHex();
    }

private slots:
    void frames_data()
    {
        QTest::addColumn<QByteArray>("frame"); // as built, in spaced hex
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QByteArray& frame, const char* expected) {
            QTest::newRow(name) << frame.toHex(' ') << QByteArray(expected);
        };
        row("brightness, no payload", commandFrame(9, quint8(Command::Brightness), {}), "09 6e");
        row("uid 0 and payload zeros",
            commandFrame(0, quint8(Command::LongUnsigned), QByteArray(4, '\0')),
            "00 64 00 00 00 00");
        row("configure 9600 uid 0", configFrame(configPayload(Baud::B9600, 0)), "1e 1e 24 00");
        row("configure 19200 uid 7", configFrame(configPayload(Baud::B19200, 7)), "1e 1e 12 07");
        row("configure 38400 uid 255", configFrame(configPayload(Baud::B38400, 255)),
            "1e 1e 09 ff");
    }
    void frames()
    {
        QFETCH(QByteArray, frame);
        QTEST(frame, "expected");
    }

    // Halves go to the even neighbour; anything not a plain number is refused.
    void uid_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("uid"); // -1: refused
        const std::pair<QString, int> rows[] = {
            {"0", 0},       {"255", 255},   {"2.5", 2},    {"3.5", 4},
            {"2.50001", 3}, {"254.5", 254}, {"255.5", -1}, {"-0", 0},
            {"-1", -1},     {" 7 ", 7},     {"007.", 7},   {".5", 0},
            {"12ab", -1},   {"", -1},       {"1e2", -1},   {QChar(0x0663), -1}};
        for (const auto& [text, uid] : rows)
            QTest::newRow(qPrintable("\"" + text + "\"")) << text << uid;
    }
    void uid()
    {
        QFETCH(QString, text);
        const std::optional<quint8> got = uidFromText(text);
        QTEST(got ? int(*got) : -1, "uid");
    }

    // Right-aligned in six places, never cut, then Windows-1252; '?' for
    // what it lacks, and its five undefined codes as their own byte.
    void text_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("payload");
        const auto row = [](const char* name, const QString& typed, const char* payload) {
            QTest::newRow(name) << typed << QByteArray(payload);
        };
        row("empty", "", "20 20 20 20 20 20");
        row("five characters", "ABCDE", "20 41 42 43 44 45");
        row("blanks typed count", " A B", "20 20 20 41 20 42");
        row("seven never cut", "ABCDEFG", "41 42 43 44 45 46 47");
        row("Latin-1 and the code page's own", "\u00e9\u00ff\u20ac\u201c\u2013\u2122\u0160\u0178",
            "e9 ff 80 93 96 99 8a 9f");
        row("undefined codes pass through", "\u0081\u008d\u008f\u0090\u009d", "20 81 8d 8f 90 9d");
        row("outside the code page", "\u03a9\u0100", "20 20 20 20 3f 3f");
        row("outside the basic plane: two", "\U0001F600", "20 20 20 20 3f 3f");
    }
    void text()
    {
        QFETCH(QString, typed);
        QTEST(textPayload(typed).toHex(' '), "payload");
    }

    // A code no module knows has no payload length (the splitter's rows cover the known ones).
    void unknownCodeHasNoPayloadLength() { QVERIFY(!payloadLength(0x41)); }

    // Most significant byte first both ways; encoding stops at the width's range.
    void numbers_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("isSigned");
        QTest::addColumn<QByteArray>("payload"); // empty: does not fit
        const auto row = [](const char* name, qint64 value, int width, bool isSigned,
                            const char* payload) {
            QTest::newRow(name) << value << width << isSigned << QByteArray(payload);
        };
        row("long 305419896", 305419896, 4, false, "12 34 56 78");
        row("long unsigned top", 4294967295, 4, false, "ff ff ff ff");
        row("long unsigned past top", 4294967296, 4, false, "");
        row("long signed -1", -1, 4, true, "ff ff ff ff");
        row("long signed bottom", -2147483648LL, 4, true, "80 00 00 00");
        row("long signed past bottom", -2147483649LL, 4, true, "");
        row("short signed -300", -300, 2, true, "fe d4");
        row("short unsigned negative", -1, 2, false, "");
        row("short signed past top", 32768, 2, true, "");
    }
    void numbers()
    {
        QFETCH(qint64, value);
        QFETCH(int, width);
        QFETCH(bool, isSigned);
        QFETCH(QByteArray, payload);
        const std::optional<QByteArray> encoded = numberPayload(value, width, isSigned);
        QCOMPARE(encoded ? encoded->toHex(' ') : QByteArray(), payload);
        const NumberRange range = numberRange(width, isSigned);
        QCOMPARE(value >= range.low && value <= range.high, !payload.isEmpty());
        if (encoded) {
            QCOMPARE(isSigned ? signedFromPayload(*encoded) : qint64(unsignedFromPayload(*encoded)),
                     value);
        }
    }

    void hex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("bytes"); // as hexText writes them; "none": refused
        const auto row = [](const char* text, const char* bytes) {
            QTest::newRow(*text ? text : "nothing") << QString(text) << QString(bytes);
        };
        row("05 62 20", "05 62 20");
        row("056220", "05 62 20");
        row("0x05:62,0a-ff", "05 62 0A FF"); // colons, commas, dashes, 0x
        row("1 a", "01 0A");
        row("056", "none"); // an odd run
        row("zz", "none");
        row("05 -1", "none"); // a sign is no separator
        row("05,", "none");   // a mark leads nowhere
        row("", "");
    }
    void hex()
    {
        QFETCH(QString, text);
        const std::optional<QByteArray> bytes = bytesFromHex(text);
        QTEST(bytes ? hexText(*bytes) : QString("none"), "bytes");
    }

    // Every control character an escape, other characters kept, cut at the limit.
    void printable_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* name, const QByteArray& utf8, int limit,
                            const QByteArray& shown) {
            QTest::newRow(name) << utf8 << limit << QString::fromUtf8(shown);
        };
        row("ESC, BEL, NUL, DEL, line end", QByteArray("a\x1b[31mb\x07\0c\x7f\n", 12), -1,
            "a\\x1b[31mb\\x07\\x00c\\x7f\\x0a");
        row("C1 controls", "\xc2\x80\xc2\x9b\xc2\x9f", -1, "\\x80\\x9b\\x9f");
        row("line separator, right-to-left override", "\xe2\x80\xa8x\xe2\x80\xae", -1,
            "\\u2028x\\u202e");
        row("multibyte kept", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", -1,
            "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
        row("broken UTF-8", "a\xff\xc3\x62", -1, "a\xef\xbf\xbd\xef\xbf\xbd\x62");
        row("cut", QByteArray(100, 'x'), 40, QByteArray(40, 'x') + "...");
        row("escapes count once", "\x01\x02\x03", 2, "\\x01\\x02...");
        row("a character outside the basic plane counts once", "ab\xf0\x9f\x98\x80\x63", 3,
            "ab\xf0\x9f\x98\x80...");
    }
    void printable()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(int, limit);
        QTEST(protocol::printable(utf8, limit), "shown");
    }

    void frameSplitting_data()
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
        row("configuration cut short", "1e1e09", {"bad 1e1e09"});
        row("unknown code after a frame", "01630a01414243", {"cmd 01630a", "bad 01414243"});
    }
    void frameSplitting()
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
};

QTEST_APPLESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
