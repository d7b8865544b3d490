#include "protocol/protocol.h"

#include <QtTest>

using namespace protocol;

// The bytes the module receives, built without a window or a port.
class tst_Protocol : public QObject
{
    Q_OBJECT

private slots:
    void frames()
    {
        QCOMPARE(commandFrame(9, quint8(Command::Brightness), {}).toHex(' '), QByteArray("09 6e"));
        QCOMPARE(configFrame(configPayload(Baud::B9600, 0)).toHex(' '), QByteArray("1e 1e 24 00"));
        QCOMPARE(configFrame(configPayload(Baud::B19200, 7)).toHex(' '), QByteArray("1e 1e 12 07"));
        QCOMPARE(configFrame(configPayload(Baud::B38400, 255)).toHex(), QByteArray("1e1e09ff"));
    }

    void uid()
    {
        // Halves go to the even neighbour; anything not a plain number is refused.
        const std::pair<QString, int> rows[] = {{"2.5", 2},         {"3.5", 4},    {"2.50001", 3},
                                                {"254.5", 254},     {"255.5", -1}, {"12ab", -1},
                                                {QChar(0x0663), -1}};
        for (const auto& [text, uid] : rows) {
            const std::optional<quint8> got = uidFromText(text);
            QCOMPARE(got ? int(*got) : -1, uid);
        }
    }

    // Right-aligned in six places, never cut, then Windows-1252 with '?' for the rest.
    void text()
    {
        const std::pair<QString, const char*> rows[] = {
            {"ABCDE", "20 41 42 43 44 45"},
            {"ABCDEFG", "41 42 43 44 45 46 47"},
            {"\u00e9\u00ff\u20ac\u201c\u2013\u2122\u0160\u0178", "e9 ff 80 93 96 99 8a 9f"},
            {"\u03a9" + QString(QChar(0x81)), "20 20 20 20 3f 3f"},
            {"\U0001F600", "20 20 20 20 3f 3f"}};
        for (const auto& [typed, payload] : rows)
            QCOMPARE(textPayload(typed).toHex(' '), QByteArray(payload));
    }
};

QTEST_APPLESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
