#include "settings/modVariable.h"
#include "tests/support/Panel.h"

class tst_Commands : public QObject
{
    Q_OBJECT

private slots:
    // Steps as the operator takes them (see Panel::set), the frames heard, and the message.
    void buttons_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const QStringList& steps, const char* frame,
                            const QString& message = {}) {
            QTest::newRow(name) << steps << QByteArray::fromHex(frame) << message;
        };
        const QStringList hi{"txtdata=HI", "cmdTransmit"};
        row("text right-aligned", hi, "0562202020204849");
        row("decimal points 63", {"cboDP=63", "cmdDP"}, "05633f");
        const QStringList l12345678{"cbolm4=12", "cbolm3=34", "cbolm2=56", "cbolm1=78"};
        row("long unsigned", l12345678 + QStringList{"optUnsigned", "cmdDecimal"}, "056412345678");
        row("long signed", l12345678 + QStringList{"optSigned", "cmdDecimal"}, "056512345678");
        row("short signed", {"cbosi2=AB", "cbosi1=0C", "optSignedS", "cmdShort"}, "0567ab0c");
        row("short unsigned, long's option apart", {"cbosi2=ff", "optSigned", "cmdShort"},
            "0566ff00");
        row("segments, leftmost first",
            {"cboSeg6=01", "cboSeg5=02", "cboSeg4=04", "cboSeg3=08", "cboSeg2=80", "cboSeg1=7f",
             "cmdSEG"},
            "056101020408807f");
        // A second press sends the same frame; the caption toggles with each press.
        row("brightness twice", {"cboSeg6=3F", "cmdSEG", "cmdDIM", "cmdDIM"},
            "05613f0000000000056e3f0000000000056e3f0000000000");
        // Brightness carries the configuration payload, to the address shown.
        row("brightness after configuration",
            {"cboCuid=255", "opt38400", "cboUID=3", "cmdConfig", "cmdDIM"}, "1e1e09ff036e1e09ff");
        // The shown text goes through the one UID conversion (its rows are the protocol's).
        row("uid 2.5 to even", {"cboUID=2.5", "cmdDP"}, "026300");
        row("uid 256", {"cboUID=256", "cmdDP"}, "",
            "Nothing sent: Device UID must be a number from 0 to 255");
        // Nothing half-built is left for brightness to carry.
        row("long list unselected", hi + QStringList{"cbolm3=zz", "cmdDecimal", "cmdDIM"},
            "0562202020204849056e202020204849",
            "Display Long Integer Number: list 2 has no value selected");
        row("uid list unselected", {"cboCuid=256", "cmdConfig"}, "",
            "Configure LED Module: list 1 has no value selected");
    }
    void buttons()
    {
        QFETCH(QStringList, steps);
        QFETCH(QByteArray, frame);
        QFETCH(QString, message);
        Panel p;
        p.set(steps);
        QCOMPARE(p.line().toHex(' '), frame.toHex(' '));
        QCOMPARE(p.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(p.get<QPushButton>("cmdDIM")->text(),
                 QString(steps.count("cmdDIM") % 2 ? "Full Brightness" : "Dim"));
        if (steps.contains("cmdTransmit")) // emptied once its text went out
            QCOMPARE(p.get<QLineEdit>("txtdata")->text(), QString());
        // The panel keeps its own address and line after configuring a module.
        QCOMPARE(p.window->port().settings(), QString("9600,n,8,1"));
    }

    // A send remembers the UID shown, also one it refuses; configuring does not.
    void slaveIdRemembered()
    {
        Panel p;
        modVariable::strSlaveID = "stale";
        p.set({"cboUID=256", "cmdDIM"});
        QCOMPARE(modVariable::strSlaveID, QString("256"));
        p.set({"cboUID=9", "cmdConfig"});
        QCOMPARE(modVariable::strSlaveID, QString("256"));
    }

    // The wheel over a list changes it only while it has the keyboard focus.
    void wheel_data()
    {
        QTest::addColumn<bool>("focused");
        QTest::newRow("pointer passing over") << false;
        QTest::newRow("list in focus") << true;
    }
    void wheel()
    {
        QFETCH(bool, focused);
        Panel p;
        QVERIFY(p.showActive());
        ValueComboBox* list = p.list("cboSeg3");
        if (focused) {
            list->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY(list->hasFocus());
        }
        const QPointF at = list->rect().center();
        QWheelEvent turn(at, list->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(list, &turn);
        QCOMPARE(list->currentIndex(), focused ? 1 : 0);
        QCOMPARE(list->hasFocus(), focused);
    }

    void portNotOpen()
    {
        const QStringList buttons{"cmdTransmit", "cmdDP",  "cmdDecimal", "cmdShort",
                                  "cmdSEG",      "cmdDIM", "cmdConfig"};
        Panel p;
        p.type("txtdata", "OK");
        p.window->port().close();
        for (const QString& button : buttons)
            p.press(button);
        QCOMPARE(p.messages, QStringList(buttons.size(), "Nothing sent: the port is not open"));
        QCOMPARE(p.get<QPushButton>("cmdDIM")->text(), QString("Dim"));
        QCOMPARE(p.get<QLineEdit>("txtdata")->text(), QString("    OK")); // kept for another press
        QVERIFY(p.window->port().open());
        QCOMPARE(p.line(), QByteArray());
        emit p.window->port().failed("device gone"); // while idle
        QCOMPARE(p.messages.last(), QString("The port failed and was closed"));
    }
};

QTEST_MAIN(tst_Commands)
#include "tst_commands.moc"
