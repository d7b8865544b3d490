#include "Decoder.h"

#include <QtTest>

// Bursts off the line into frames, written as "cmd UID CODE PAYLOAD",
// "cfg BAUD UID" or "bad BYTES".
class tst_EmulatorDecoder : public QObject
{
    Q_OBJECT

    static QString describe(const ReceivedFrame& f)
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

private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<QStringList>("frames");
        const auto row = [](const char* name, const char* hex, const QStringList& frames) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << frames;
        };
        row("nothing", "", {});
        // One row per command code: each has its own payload length.
        row("text, uid 1", "0162202020204849", {"cmd 0162 202020204849"});
        row("segments", "0561ff0180400224", {"cmd 0561 ff0180400224"});
        row("decimal points", "02633f", {"cmd 0263 3f"});
        row("long unsigned", "016412345678", {"cmd 0164 12345678"});
        row("long signed", "0165ffffffff", {"cmd 0165 ffffffff"});
        row("short unsigned", "01661234", {"cmd 0166 1234"});
        row("short signed", "01678000", {"cmd 0167 8000"});
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
        row("configuration, unknown baud code", "1e1e3305", {"cfg 3305"});
        row("uid 0x1e text", "1e62414243444546", {"cmd 1e62 414243444546"});
        row("uid 0x1e brightness after configuration", "1e6e1e0907", {"cmd 1e6e 1e0907"});
        row("merged text and dp",
            "01622020202048490163"
            "0a",
            {"cmd 0162 202020204849", "cmd 0163 0a"});
        row("merged dp and configuration", "01630a1e1e1205", {"cmd 0163 0a", "cfg 1205"});
        row("merged configuration and short", "1e1e090505661234", {"cfg 0905", "cmd 0566 1234"});
        row("lone byte", "01", {"bad 01"});
        row("unknown code", "01414243", {"bad 01414243"});
        row("text cut short", "01624849", {"bad 01624849"});
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
};

QTEST_APPLESS_MAIN(tst_EmulatorDecoder)
#include "tst_emulator_decoder.moc"
