#include "Panel.h"
#include "modVariable.h"

namespace {
const QString UidNotValid =
    QStringLiteral("Nothing sent: Device UID must be a number from 0 to 255");
const QString PortNotOpen = QStringLiteral("Nothing sent: the port is not open");
const QStringList Buttons = {"cmdTransmit", "cmdDP",  "cmdDecimal", "cmdShort",
                             "cmdSEG",      "cmdDIM", "cmdConfig"};
QByteArray hex(const QByteArray& bytes)
{
    return bytes.toHex(' ');
}
} // namespace

// Every button of the panel, heard from the module's side of the line.
class tst_Commands : public QObject
{
    Q_OBJECT

private slots:
    // Steps as the operator takes them (see Panel::set), then the frame heard.
    void buttons_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QByteArray>("frame");
        const auto row = [](const char* name, const QStringList& steps, const char* frame) {
            QTest::newRow(name) << steps << QByteArray::fromHex(frame);
        };
        // Start-up selections: every byte list at 00, the decimal points at 0.
        row("text empty", {"cmdTransmit"}, "0562202020202020");
        row("decimal points, start", {"cmdDP"}, "056300");
        row("long, start", {"cmdDecimal"}, "056400000000");
        row("short, start", {"cmdShort"}, "05660000");
        row("segments, start", {"cmdSEG"}, "0561000000000000");
        row("configuration, start", {"cmdConfig"}, "1e1e2405");
        // Chosen values; text typed key by key.
        row("text HI", {"txtdata=HI", "cmdTransmit"}, "0562202020204849");
        row("text of five, typed blanks", {"txtdata= A B ", "cmdTransmit"}, "0562202041204220");
        row("text of six", {"txtdata=ABCDEF", "cmdTransmit"}, "0562414243444546");
        row("decimal points 63", {"cboDP=63", "cmdDP"}, "05633f");
        const QStringList l12345678{"cbolm4=12", "cbolm3=34", "cbolm2=56", "cbolm1=78"};
        row("long unsigned", l12345678 + QStringList{"optUnsigned", "cmdDecimal"}, "056412345678");
        row("long signed", l12345678 + QStringList{"optSigned", "cmdDecimal"}, "056512345678");
        row("short signed", {"cbosi2=AB", "cbosi1=0C", "optSignedS", "cmdShort"}, "0567ab0c");
        row("short unsigned, long's option apart", {"cbosi2=ff", "optSigned", "cmdShort"},
            "0566ff00");
        row("segments, leftmost first",
            {"cboSeg6=01", "cboSeg5=02", "cboSeg4=04", "cboSeg3=08", "cboSeg2=80", "cboSeg1=FF",
             "cmdSEG"},
            "05610102040880ff");
        // Brightness carries the payload of the press before it.
        row("brightness first after start", {"cmdDIM"}, "056e");
        row("brightness after segments", {"cboSeg6=3F", "cboSeg1=06", "cmdSEG", "cmdDIM"},
            "05613f0000000006"
            "056e3f0000000006");
        row("brightness after configuration",
            {"cboCuid=255", "opt38400", "cboUID=3", "cmdConfig", "cmdDIM"},
            "1e1e09ff"
            "036e1e09ff");
        // Configuration names its rate and new UID whatever cboUID shows.
        row("configure 9600 0", {"opt9600", "cboCuid=0", "cmdConfig"}, "1e1e2400");
        row("configure 19200 255", {"opt19200", "cboCuid=255", "cboUID=9", "cmdConfig"},
            "1e1e12ff");
        row("configure 38400 0", {"opt38400", "cboCuid=0", "cboUID=300", "cmdConfig"}, "1e1e0900");
        row("configure 38400 255", {"opt38400", "cboCuid=255", "cboUID=0", "cmdConfig"},
            "1e1e09ff");
        // A typed value selects its item: "7f" is 0x7F.
        row("typed byte 7f", {"cbolm2=7f", "cmdDecimal"}, "056400007f00");
    }
    void buttons()
    {
        QFETCH(QStringList, steps);
        QFETCH(QByteArray, frame);
        Panel p;
        p.set(steps);
        QCOMPARE(hex(p.line()), hex(frame));
        QCOMPARE(p.messages, QStringList());
        // The text field empties once its text went out.
        if (steps.last() == "cmdTransmit")
            QCOMPARE(p.get<QLineEdit>("txtdata")->text(), QString());
        // The panel keeps its own address and line after configuring a module.
        QCOMPARE(p.window->port().settings(), QString("9600,n,8,1"));
        if (steps.last() == "cmdConfig")
            QCOMPARE(modVariable::strSlaveID, QString("5"));
    }

    // A second brightness press sends the same frame and brings the caption back.
    void brightnessTwice()
    {
        Panel p;
        p.set({"cboSeg6=3F", "cmdSEG"});
        p.line();
        for (const char* caption : {"Full Brightness", "Dim"}) {
            p.press("cmdDIM");
            QCOMPARE(hex(p.line()), QByteArray("05 6e 3f 00 00 00 00 00"));
            QCOMPARE(p.get<QPushButton>("cmdDIM")->text(), QString(caption));
        }
    }

    void uidText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("frame"); // empty: refused with a message
        const auto row = [](const char* text, const char* frame) {
            QTest::newRow(text) << QString(text) << QByteArray::fromHex(frame);
        };
        row("0", "006300");
        row("255", "ff6300");
        row("2.5", "026300"); // halves go to the even neighbour
        row("3.5", "046300");
        row(" 7 ", "076300");
        for (const char* refused : {"256", "-1", "abc", ""})
            row(refused, "");
    }
    void uidText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, frame);
        Panel p;
        p.type("cboUID", text);
        p.press("cmdDP");
        QCOMPARE(hex(p.line()), hex(frame));
        QCOMPARE(p.messages, frame.isEmpty() ? QStringList{UidNotValid} : QStringList());
        QCOMPARE(modVariable::strSlaveID, text);
    }

    // A typed value that matches no item sends nothing and names the list.
    void typedListValue_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("message");
        const auto row =
            [](const char* step, const char* button, const char* group, int list) {
                QTest::newRow(step)
                    << QString(step) << QString(button)
                    << QString("%1: list %2 has no value selected").arg(group).arg(list);
            };
        row("cbolm3=zz", "cmdDecimal", "Display Long Integer Number", 2);
        row("cboSeg1=", "cmdSEG", "Segment Control", 6);
        row("cboDP=64", "cmdDP", "Decimal Point Control", 1);
        row("cboCuid=256", "cmdConfig", "Configure LED Module", 1);
    }
    void typedListValue()
    {
        QFETCH(QString, step);
        QFETCH(QString, button);
        QFETCH(QString, message);
        Panel p;
        p.set({"txtdata=HI", "cmdTransmit"});
        p.line();
        p.set({step, button});
        QCOMPARE(hex(p.line()), QByteArray());
        QCOMPARE(p.messages, QStringList{message});
        // Nothing half-built is left for brightness to carry.
        QCOMPARE(hex(p.window->payload()), QByteArray("20 20 20 20 48 49"));
    }

    void portNotOpen()
    {
        Panel p;
        p.type("txtdata", "OK");
        p.window->port().close();
        for (const QString& button : Buttons)
            p.press(button);
        QCOMPARE(p.messages, QStringList(Buttons.size(), PortNotOpen));
        QCOMPARE(p.get<QPushButton>("cmdDIM")->text(), QString("Dim"));
        QCOMPARE(p.get<QLineEdit>("txtdata")->text(), QString("    OK")); // kept for another press
        QVERIFY(p.window->port().open());
        QCOMPARE(hex(p.line()), QByteArray());
    }

    void portFailsWhileIdle()
    {
        Panel p;
        emit p.window->port().failed("device gone");
        QCOMPARE(p.messages, QStringList{"The port failed and was closed"});
    }
};

QTEST_MAIN(tst_Commands)
#include "tst_commands.moc"
