#include "protocol.h"

#include <QtTest>

using namespace protocol;

// The bytes the module receives, built without a window or a port.
class tst_Protocol : public QObject
{
    Q_OBJECT

private slots:
    void frames()
    {
        QCOMPARE(commandFrame(5, quint8(Command::Text), "    HI").toHex(' '),
                 QByteArray("05 62 20 20 20 20 48 49"));
        QCOMPARE(commandFrame(9, quint8(Command::Brightness), {}).toHex(' '), QByteArray("09 6e"));
        const std::pair<Baud, const char*> bauds[] = {
            {Baud::B9600, "1e 24 00"}, {Baud::B19200, "1e 12 07"}, {Baud::B38400, "1e 09 ff"}};
        const quint8 uids[] = {0, 7, 255};
        for (int i = 0; i < 3; ++i) {
            const QByteArray payload = configPayload(bauds[i].first, uids[i]);
            QCOMPARE(payload.toHex(' '), QByteArray(bauds[i].second));
            QCOMPARE(configFrame(payload).toHex(' '), "1e " + payload.toHex(' '));
        }
    }

    // Beyond the texts the panel tests type into cboUID.
    void uid_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("uid"); // -1: refused
        const auto row = [](const char* name, const QString& text, int uid) {
            QTest::newRow(name) << text << uid;
        };
        row("255", "255", 255);
        row("2.5 ties down to even", "2.5", 2);
        row("3.5 ties up to even", "3.5", 4);
        row("2.50001 is above the tie", "2.50001", 3);
        row("254.5 stays in range", "254.5", 254);
        row("255.5 rounds to 256", "255.5", -1);
        row("blanks around", " 7 ", 7);
        row("leading zeros", "0007", 7);
        row("-0.4 rounds to 0", "-0.4", 0);
        row("blanks only", "   ", -1);
        row("number then letters", "12ab", -1);
        row("very long number", "100000000000000000007", -1);
        row("Arabic-Indic digit three", QString(QChar(0x0663)), -1);
    }
    void uid()
    {
        QFETCH(QString, text);
        QFETCH(int, uid);
        const std::optional<quint8> got = uidFromText(text);
        QCOMPARE(got ? int(*got) : -1, uid);
    }

    void listBytes_data()
    {
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("missing"); // the first list without a value, from 1
        QTest::newRow("leftmost first")
            << QList<int>{0x12, 0xFF, 0x00, 0x80} << QByteArray("12 ff 00 80") << 0;
        QTest::newRow("second unselected") << QList<int>{1, -1, 3, -1} << QByteArray() << 2;
        QTest::newRow("beyond one byte") << QList<int>{256} << QByteArray() << 1;
    }
    void listBytes()
    {
        QFETCH(QList<int>, positions);
        QFETCH(QByteArray, bytes);
        QFETCH(int, missing);
        const ListBytes got = bytesFromPositions(positions);
        QCOMPARE(got.missing, missing);
        QCOMPARE(got.bytes.value_or(QByteArray()).toHex(' '), bytes);
        QCOMPARE(got.bytes.has_value(), missing == 0);
    }

    // Right-aligned in six places, then Windows-1252.
    void text_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("padded");
        QTest::addColumn<QByteArray>("payload");
        const auto row = [](const char* name, const QString& typed, const QString& padded,
                            const char* payload) {
            QTest::newRow(name) << typed << padded << QByteArray(payload);
        };
        row("empty", "", "      ", "20 20 20 20 20 20");
        row("five", "ABCDE", " ABCDE", "20 41 42 43 44 45");
        row("six unchanged", "ABCDEF", "ABCDEF", "41 42 43 44 45 46");
        row("typed blanks count", " A B ", "  A B ", "20 20 41 20 42 20");
        row("seven are never cut", "ABCDEFG", "ABCDEFG", "41 42 43 44 45 46 47");
        row("Latin-1 letters", "\u00e9\u00ff", "    \u00e9\u00ff", "20 20 20 20 e9 ff");
        row("euro, quotes, dash, trade mark, S caron, Y diaeresis",
            "\u20ac\u201c\u2013\u2122\u0160\u0178", "\u20ac\u201c\u2013\u2122\u0160\u0178",
            "80 93 96 99 8a 9f");
        row("Greek letter becomes ?", "\u03a9", "     \u03a9", "20 20 20 20 20 3f");
        row("C1 control becomes ?", QString(QChar(0x81)), "     " + QString(QChar(0x81)),
            "20 20 20 20 20 3f");
        row("outside the basic plane keeps its width", "\U0001F600", "    \U0001F600",
            "20 20 20 20 3f 3f");
    }
    void text()
    {
        QFETCH(QString, typed);
        QFETCH(QString, padded);
        QFETCH(QByteArray, payload);
        QCOMPARE(padText(typed), padded);
        QCOMPARE(textPayload(typed).toHex(' '), payload);
    }
};

QTEST_APPLESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
