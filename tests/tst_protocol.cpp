#include "ansi.h"
#include "protocol.h"

#include <QtTest>

using namespace protocol;

Q_DECLARE_METATYPE(std::optional<quint8>)

// The bytes the module receives, built without a window or a port.
class tst_Protocol : public QObject
{
    Q_OBJECT

private slots:
    void frame_data()
    {
        QTest::addColumn<quint8>("uid");
        QTest::addColumn<quint8>("code");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("text HI, uid 5")
            << quint8(5) << quint8(Command::Text) << QByteArray::fromHex("202020204849")
            << QByteArray::fromHex("0562202020204849");
        QTest::newRow("brightness, nothing before") << quint8(9) << quint8(Command::Brightness)
                                                    << QByteArray() << QByteArray::fromHex("096e");
        QTest::newRow("uid 0 and zero payload")
            << quint8(0) << quint8(Command::Segments) << QByteArray(6, '\0')
            << QByteArray::fromHex("0061000000000000");
    }
    void frame()
    {
        QFETCH(quint8, uid);
        QFETCH(quint8, code);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, frame);
        QCOMPARE(commandFrame(uid, code, payload).toHex(' '), frame.toHex(' '));
    }

    void uid_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<quint8>>("uid");
        const std::optional<quint8> none;
        QTest::newRow("0") << "0" << std::optional<quint8>(0);
        QTest::newRow("255") << "255" << std::optional<quint8>(255);
        QTest::newRow("2.5 ties down to even") << "2.5" << std::optional<quint8>(2);
        QTest::newRow("3.5 ties up to even") << "3.5" << std::optional<quint8>(4);
        QTest::newRow("2.50001 is above the tie") << "2.50001" << std::optional<quint8>(3);
        QTest::newRow("254.5 stays in range") << "254.5" << std::optional<quint8>(254);
        QTest::newRow("255.5 rounds to 256") << "255.5" << none;
        QTest::newRow("blanks around") << " 7 " << std::optional<quint8>(7);
        QTest::newRow("leading zeros") << "0007" << std::optional<quint8>(7);
        QTest::newRow("-0.4 rounds to 0") << "-0.4" << std::optional<quint8>(0);
        QTest::newRow("256") << "256" << none;
        QTest::newRow("-1") << "-1" << none;
        QTest::newRow("abc") << "abc" << none;
        QTest::newRow("empty") << "" << none;
        QTest::newRow("blanks only") << "   " << none;
        QTest::newRow("number then letters") << "12ab" << none;
        QTest::newRow("very long number") << "100000000000000000007" << none;
        QTest::newRow("Arabic-Indic digit three") << QString(QChar(0x0663)) << none;
    }
    void uid()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<quint8>, uid);
        const std::optional<quint8> got = uidFromText(text);
        QCOMPARE(got.has_value(), uid.has_value());
        if (uid)
            QCOMPARE(*got, *uid);
    }

    void listBytes_data()
    {
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("missing");
        QTest::newRow("four bytes, leftmost first")
            << QList<int>{0x12, 0x34, 0x56, 0x78} << QByteArray::fromHex("12345678") << 0;
        QTest::newRow("zeros count") << QList<int>{0, 0} << QByteArray::fromHex("0000") << 0;
        QTest::newRow("ends of the range")
            << QList<int>{0xFF, 0x00, 0x7F, 0x80} << QByteArray::fromHex("ff007f80") << 0;
        QTest::newRow("second unselected") << QList<int>{1, -1, 3, -1} << QByteArray() << 2;
        QTest::newRow("only list unselected") << QList<int>{-1} << QByteArray() << 1;
        QTest::newRow("beyond one byte") << QList<int>{256} << QByteArray() << 1;
    }
    void listBytes()
    {
        QFETCH(QList<int>, positions);
        QFETCH(QByteArray, bytes);
        QFETCH(int, missing);
        const ListBytes got = bytesFromPositions(positions);
        QCOMPARE(got.missing, missing);
        QCOMPARE(got.bytes.has_value(), missing == 0);
        if (got.bytes)
            QCOMPARE(got.bytes->toHex(' '), bytes.toHex(' '));
    }

    void text_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("padded");
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("empty") << ""
                               << "      " << QByteArray::fromHex("202020202020");
        QTest::newRow("AB") << "AB"
                            << "    AB" << QByteArray::fromHex("202020204142");
        QTest::newRow("five") << "ABCDE"
                              << " ABCDE" << QByteArray::fromHex("204142434445");
        QTest::newRow("six unchanged") << "ABCDEF"
                                       << "ABCDEF" << QByteArray::fromHex("414243444546");
        QTest::newRow("typed blanks count") << " A B "
                                            << "  A B " << QByteArray::fromHex("202041204220");
        QTest::newRow("seven are never cut") << "ABCDEFG"
                                             << "ABCDEFG" << QByteArray::fromHex("41424344454647");
        QTest::newRow("euro sign")
            << QString(QChar(0x20AC)) + "5"
            << "    " + QString(QChar(0x20AC)) + "5" << QByteArray::fromHex("202020208035");
        QTest::newRow("Latin-1 letters")
            << QString::fromUtf8("\u00e9\u00ff") << QString::fromUtf8("    \u00e9\u00ff")
            << QByteArray::fromHex("20202020e9ff");
        QTest::newRow("curly quotes, dash, trade mark")
            << QString::fromUtf8("\u201c\u2013\u2122\u201d")
            << QString::fromUtf8("  \u201c\u2013\u2122\u201d")
            << QByteArray::fromHex("202093969994");
        QTest::newRow("S caron, Y diaeresis")
            << QString::fromUtf8("\u0160\u0178") << QString::fromUtf8("    \u0160\u0178")
            << QByteArray::fromHex("202020208a9f");
        QTest::newRow("Greek letter becomes ?")
            << QString::fromUtf8("\u03a9") << QString::fromUtf8("     \u03a9")
            << QByteArray::fromHex("20202020203f");
        QTest::newRow("C1 control becomes ?")
            << QString(QChar(0x81)) << "     " + QString(QChar(0x81))
            << QByteArray::fromHex("20202020203f");
        QTest::newRow("character outside the basic plane keeps its width")
            << QString::fromUtf8("\U0001F600") << QString::fromUtf8("    \U0001F600")
            << QByteArray::fromHex("202020203f3f");
    }
    void text()
    {
        QFETCH(QString, typed);
        QFETCH(QString, padded);
        QFETCH(QByteArray, payload);
        QCOMPARE(padText(typed), padded);
        QCOMPARE(textPayload(typed).toHex(' '), payload.toHex(' '));
    }

    void config_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<quint8>("newUid");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("9600, uid 0")
            << int(Baud::B9600) << quint8(0) << QByteArray::fromHex("1e2400")
            << QByteArray::fromHex("1e1e2400");
        QTest::newRow("19200, uid 7")
            << int(Baud::B19200) << quint8(7) << QByteArray::fromHex("1e1207")
            << QByteArray::fromHex("1e1e1207");
        QTest::newRow("38400, uid 255")
            << int(Baud::B38400) << quint8(255) << QByteArray::fromHex("1e09ff")
            << QByteArray::fromHex("1e1e09ff");
    }
    void config()
    {
        QFETCH(int, baud);
        QFETCH(quint8, newUid);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, frame);
        const QByteArray got = configPayload(Baud(baud), newUid);
        QCOMPARE(got.toHex(' '), payload.toHex(' '));
        QCOMPARE(configFrame(got).toHex(' '), frame.toHex(' '));
    }
};

QTEST_APPLESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
