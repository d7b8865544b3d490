#include "Decoder.h"

#include <QtTest>

// Bursts off the line into frames, written as "cmd UID CODE PAYLOAD",
// "cfg BAUD UID" or "bad BYTES".
class tst_EmulatorDecoder : public QObject
{
    Q_OBJECT

private:
    static QString describe(const ReceivedFrame& f)
    {
        auto hex = [](const QByteArray& b) { return QString::fromLatin1(b.toHex()); };
        switch (f.kind) {
        case ReceivedFrame::Kind::Command:
            return QStringLiteral("cmd %1 %2 %3")
                .arg(hex(QByteArray(1, char(f.uid))), hex(QByteArray(1, char(f.code))),
                     hex(f.payload))
                .trimmed();
        case ReceivedFrame::Kind::Configuration:
            return QStringLiteral("cfg %1 %2")
                .arg(hex(QByteArray(1, char(f.baudCode))), hex(QByteArray(1, char(f.newUid))));
        case ReceivedFrame::Kind::Malformed:
            return QStringLiteral("bad ") + hex(f.bytes);
        }
        return {};
    }

private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<QStringList>("frames");
        auto row = [](const char* name, const char* hex, QStringList frames) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << frames;
        };

        row("text HI, uid 1",
            "016220202020"
            "4849",
            {"cmd 01 62 202020204849"});
        row("segments", "0561ff0180400224", {"cmd 05 61 ff0180400224"});
        row("decimal points", "02633f", {"cmd 02 63 3f"});
        row("long unsigned", "016412345678", {"cmd 01 64 12345678"});
        row("long signed", "0165ffffffff", {"cmd 01 65 ffffffff"});
        row("short unsigned", "01661234", {"cmd 01 66 1234"});
        row("short signed", "01678000", {"cmd 01 67 8000"});
        row("zero bytes are ordinary", "0061000000000000", {"cmd 00 61 000000000000"});
        row("frame for another uid", "07630a", {"cmd 07 63 0a"});
        const QByteArray tail = QByteArray::fromHex("1e24070102ff");
        for (int n = 0; n <= 6; ++n) {
            const QByteArray burst = QByteArray::fromHex("016e") + tail.left(n);
            QTest::addRow("brightness with %d trailing bytes", n)
                << burst
                << QStringList{(QStringLiteral("cmd 01 6e ") + tail.left(n).toHex()).trimmed()};
        }

        row("configuration 9600 uid 7", "1e1e2407", {"cfg 24 07"});
        row("configuration with unknown baud code", "1e1e3305", {"cfg 33 05"});
        row("uid 0x1e text", "1e62414243444546", {"cmd 1e 62 414243444546"});
        row("uid 0x1e brightness", "1e6e", {"cmd 1e 6e"});
        row("uid 0x1e brightness after configuration", "1e6e1e0907", {"cmd 1e 6e 1e0907"});

        row("merged text and decimal points",
            "01622020202048490163"
            "0a",
            {"cmd 01 62 202020204849", "cmd 01 63 0a"});
        row("merged decimal points and configuration", "01630a1e1e1205",
            {"cmd 01 63 0a", "cfg 12 05"});
        row("merged configuration and short",
            "1e1e0905"
            "05661234",
            {"cfg 09 05", "cmd 05 66 1234"});
        row("merged short and brightness", "01661234016e", {"cmd 01 66 1234", "cmd 01 6e"});
        row("brightness swallows what follows", "016e01630a", {"cmd 01 6e 01630a"});

        row("lone byte", "01", {"bad 01"});
        row("unknown code", "0141", {"bad 0141"});
        row("unknown code with payload", "01414243", {"bad 01414243"});
        row("text cut short", "01624849", {"bad 01624849"});
        row("long cut short", "0164123456", {"bad 0164123456"});
        row("decimal points without value", "0163", {"bad 0163"});
        row("configuration cut short", "1e1e24", {"bad 1e1e24"});
        row("configuration marker alone", "1e1e", {"bad 1e1e"});
        row("stray byte after a frame", "01630a05", {"cmd 01 63 0a", "bad 05"});
        row("unknown code after a frame", "01630a0141ff", {"cmd 01 63 0a", "bad 0141ff"});
        row("configuration then stray byte", "1e1e240701", {"cfg 24 07", "bad 01"});
    }
    void decode()
    {
        QFETCH(QByteArray, burst);
        QFETCH(QStringList, frames);
        const QList<ReceivedFrame> decoded = decodeBurst(burst);
        QStringList got;
        QByteArray joined;
        for (const ReceivedFrame& f : decoded) {
            got << describe(f);
            joined += f.bytes;
        }
        QCOMPARE(got, frames);
        // Every byte of the burst belongs to exactly one frame, in order.
        QCOMPARE(joined.toHex(' '), burst.toHex(' '));
    }

    void emptyBurstHasNoFrames() { QVERIFY(decodeBurst({}).isEmpty()); }
};

QTEST_APPLESS_MAIN(tst_EmulatorDecoder)
#include "tst_emulator_decoder.moc"
