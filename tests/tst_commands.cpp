#include "ListBox.h"
#include "Pty.h"
#include "TestIni.h"
#include "frmMain.h"
#include "modVariable.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

namespace {

const QString UidNotValid =
    QStringLiteral("Nothing sent: Device UID must be a number from 0 to 255");
const QString PortNotOpen = QStringLiteral("Nothing sent: the port is not open");
const QString FrameNotSent = QStringLiteral("Frame not sent: the port failed and was closed");
const QString PortFailed = QStringLiteral("The port failed and was closed");

// Written behind a press through the same port: what comes before it on the
// line is everything the press sent, so "nothing" needs no waiting.
const QByteArray Marker = QByteArray::fromHex("a55a5aa5");

QByteArray settingsFor(const Pty& pty)
{
    return "[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=5\n[Ports]\nCOM1=" +
           pty.devicePath().toUtf8() + "\n";
}

// The panel as an operator meets it: COM1 is a pseudo-terminal, the UID
// lists show 5, and every message is recorded instead of shown.
struct Panel
{
    Pty pty;
    TestIni ini{settingsFor(pty)};
    QStringList messages;
    std::unique_ptr<frmMain> window;

    Panel()
    {
        window = std::make_unique<frmMain>(
            [this](const QString& text, const QString&) { messages.append(text); });
        window->show();
    }

    template <typename T> T* get(const QString& name) const
    {
        T* found = window->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    void press(const QString& button) const { get<QPushButton>(button)->click(); }
    // The operator's keys into a field, after emptying it.
    void type(QLineEdit* field, const QString& text) const
    {
        field->clear();
        QTest::keyClicks(field, text);
    }
    void typeInList(const QString& list, const QString& text) const
    {
        type(get<ListBox>(list)->lineEdit(), text);
    }
    void pick(const QString& list, const QString& item) const
    {
        ListBox* box = get<ListBox>(list);
        box->setCurrentIndex(box->findText(item));
    }
    QString caption() const { return get<QPushButton>(QStringLiteral("cmdDIM"))->text(); }

    // Everything on the line since the last look; the port must be open.
    QByteArray line()
    {
        if (!window->port().write(Marker))
            return "marker not written: " + window->port().errorString().toUtf8();
        QByteArray got;
        while (!got.endsWith(Marker)) {
            const QByteArray more = pty.read(5000);
            if (more.isEmpty())
                return got + " (marker missing)";
            got += more;
        }
        got.chop(Marker.size());
        return got;
    }
};

// Applies "list=item" choices and chooses the named options.
void choose(const Panel& panel, const QStringList& picks, const QStringList& options)
{
    for (const QString& pick : picks)
        panel.pick(pick.section(QLatin1Char('='), 0, 0), pick.section(QLatin1Char('='), 1));
    for (const QString& option : options)
        panel.get<QRadioButton>(option)->setChecked(true);
}

} // namespace

// Every button of the panel, heard from the module's side of the line.
class tst_Commands : public QObject
{
    Q_OBJECT

private slots:
    void buttons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("picks");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("frame");
        const QStringList none;
        // Text, typed key by key into the field.
        QTest::newRow("text empty")
            << "cmdTransmit"
            << "" << none << none << QByteArray::fromHex("0562202020202020");
        QTest::newRow("text HI") << "cmdTransmit"
                                 << "HI" << none << none << QByteArray::fromHex("0562202020204849");
        QTest::newRow("text of five with typed blanks")
            << "cmdTransmit"
            << " A B " << none << none << QByteArray::fromHex("0562202041204220");
        QTest::newRow("text of six")
            << "cmdTransmit"
            << "ABCDEF" << none << none << QByteArray::fromHex("0562414243444546");
        // Start-up selections: every byte list at 00, the decimal points at 0.
        QTest::newRow("decimal points, start")
            << "cmdDP"
            << "" << none << none << QByteArray::fromHex("056300");
        QTest::newRow("long, start") << "cmdDecimal"
                                     << "" << none << none << QByteArray::fromHex("056400000000");
        QTest::newRow("short, start") << "cmdShort"
                                      << "" << none << none << QByteArray::fromHex("05660000");
        QTest::newRow("segments, start")
            << "cmdSEG"
            << "" << none << none << QByteArray::fromHex("0561000000000000");
        QTest::newRow("brightness, start") << "cmdDIM"
                                           << "" << none << none << QByteArray::fromHex("056e");
        QTest::newRow("configuration, start")
            << "cmdConfig"
            << "" << none << none << QByteArray::fromHex("1e1e2405");
        // Chosen values.
        QTest::newRow("decimal points 63")
            << "cmdDP"
            << "" << QStringList{"cboDP=63"} << none << QByteArray::fromHex("05633f");
        const QStringList long12345678{"cbolm4=12", "cbolm3=34", "cbolm2=56", "cbolm1=78"};
        QTest::newRow("long 12 34 56 78 unsigned")
            << "cmdDecimal"
            << "" << long12345678 << QStringList{"optUnsigned"}
            << QByteArray::fromHex("056412345678");
        QTest::newRow("long 12 34 56 78 signed") << "cmdDecimal"
                                                 << "" << long12345678 << QStringList{"optSigned"}
                                                 << QByteArray::fromHex("056512345678");
        QTest::newRow("short signed")
            << "cmdShort"
            << "" << QStringList{"cbosi2=AB", "cbosi1=0C"} << QStringList{"optSignedS"}
            << QByteArray::fromHex("0567ab0c");
        QTest::newRow("short unsigned, long signed left alone")
            << "cmdShort"
            << "" << QStringList{"cbosi2=FF", "cbosi1=00"}
            << QStringList{"optSigned", "optUnsignedS"} << QByteArray::fromHex("0566ff00");
        QTest::newRow("segments, leftmost first")
            << "cmdSEG"
            << "" << QStringList{"cboSeg6=01", "cboSeg5=02", "cboSeg4=04",
                                 "cboSeg3=08", "cboSeg2=80", "cboSeg1=FF"}
            << none << QByteArray::fromHex("05610102040880ff");
    }
    void buttons()
    {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(QStringList, picks);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, frame);
        Panel panel;
        QVERIFY2(panel.window->port().isOpen(), qPrintable(panel.messages.join('\n')));
        auto* txtdata = panel.get<QLineEdit>(QStringLiteral("txtdata"));
        panel.type(txtdata, typed);
        choose(panel, picks, options);

        panel.press(button);
        QCOMPARE(panel.line().toHex(' '), frame.toHex(' '));
        QCOMPARE(panel.messages, QStringList());
        const int header = button == QLatin1String("cmdConfig") ? 1 : 2;
        QCOMPARE(panel.window->payload().toHex(' '), frame.mid(header).toHex(' '));
        if (button == QLatin1String("cmdTransmit"))
            QCOMPARE(txtdata->text(), QString());
        else
            QCOMPARE(txtdata->text(), typed.left(6));
    }

    void brightness_data()
    {
        QTest::addColumn<QStringList>("picks");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("first after start") << QStringList() << QStringList() << "5"
                                           << "" << QByteArray::fromHex("056e");
        QTest::newRow("after segments")
            << QStringList{"cboSeg6=3F", "cboSeg1=06"} << QStringList() << "5"
            << "cmdSEG" << QByteArray::fromHex("056e3f0000000006");
        QTest::newRow("after configuration 38400, 255")
            << QStringList{"cboCuid=255"} << QStringList{"opt38400"} << "3"
            << "cmdConfig" << QByteArray::fromHex("036e1e09ff");
    }
    void brightness()
    {
        QFETCH(QStringList, picks);
        QFETCH(QStringList, options);
        QFETCH(QString, uid);
        QFETCH(QString, before);
        QFETCH(QByteArray, frame);
        Panel panel;
        choose(panel, picks, options);
        panel.typeInList(QStringLiteral("cboUID"), uid);
        if (!before.isEmpty()) {
            panel.press(before);
            panel.line();
        }

        panel.press(QStringLiteral("cmdDIM"));
        QCOMPARE(panel.line().toHex(' '), frame.toHex(' '));
        QCOMPARE(panel.caption(), QStringLiteral("Full Brightness"));
        // The same frame again, and the caption comes back.
        panel.press(QStringLiteral("cmdDIM"));
        QCOMPARE(panel.line().toHex(' '), frame.toHex(' '));
        QCOMPARE(panel.caption(), QStringLiteral("Dim"));
        QCOMPARE(panel.messages, QStringList());
    }

    void uidText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("frame"); // empty: refused with a message
        QTest::newRow("0") << "0" << QByteArray::fromHex("006300");
        QTest::newRow("255") << "255" << QByteArray::fromHex("ff6300");
        QTest::newRow("2.5") << "2.5" << QByteArray::fromHex("026300");
        QTest::newRow("3.5") << "3.5" << QByteArray::fromHex("046300");
        QTest::newRow("blanks around 7") << " 7 " << QByteArray::fromHex("076300");
        QTest::newRow("256") << "256" << QByteArray();
        QTest::newRow("-1") << "-1" << QByteArray();
        QTest::newRow("abc") << "abc" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
    }
    void uidText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, frame);
        Panel panel;
        panel.typeInList(QStringLiteral("cboUID"), text);
        panel.press(QStringLiteral("cmdDP"));
        QCOMPARE(panel.line().toHex(' '), frame.toHex(' '));
        QCOMPARE(panel.messages, frame.isEmpty() ? QStringList{UidNotValid} : QStringList());
        // The text shown is remembered either way.
        QCOMPARE(modVariable::strSlaveID, text);
    }

    void uidChangeBetweenPresses()
    {
        Panel panel;
        panel.press(QStringLiteral("cmdShort"));
        panel.pick(QStringLiteral("cboUID"), QStringLiteral("200"));
        panel.press(QStringLiteral("cmdShort"));
        QCOMPARE(panel.line().toHex(' '), QByteArray::fromHex("05660000c8660000").toHex(' '));
    }

    void configuration_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("newUid");
        QTest::addColumn<QString>("shownUid");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("9600, 0") << "opt9600"
                                 << "0"
                                 << "5" << QByteArray::fromHex("1e1e2400");
        QTest::newRow("19200, 255") << "opt19200"
                                    << "255"
                                    << "9" << QByteArray::fromHex("1e1e12ff");
        QTest::newRow("38400, 0") << "opt38400"
                                  << "0"
                                  << "300" << QByteArray::fromHex("1e1e0900");
        QTest::newRow("38400, 255") << "opt38400"
                                    << "255"
                                    << "0" << QByteArray::fromHex("1e1e09ff");
    }
    void configuration()
    {
        QFETCH(QString, option);
        QFETCH(QString, newUid);
        QFETCH(QString, shownUid);
        QFETCH(QByteArray, frame);
        Panel panel;
        panel.get<QRadioButton>(option)->setChecked(true);
        panel.typeInList(QStringLiteral("cboCuid"), newUid);
        panel.typeInList(QStringLiteral("cboUID"), shownUid);
        panel.press(QStringLiteral("cmdConfig"));
        QCOMPARE(panel.line().toHex(' '), frame.toHex(' '));
        QCOMPARE(panel.window->payload().toHex(' '), frame.mid(1).toHex(' '));
        QCOMPARE(panel.messages, QStringList());
        // The panel's own side keeps its address and its line.
        QCOMPARE(modVariable::strSlaveID, QStringLiteral("5"));
        QCOMPARE(panel.window->port().settings(), QStringLiteral("9600,n,8,1"));
    }

    void typedListValue_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("message");
        QTest::newRow("7f") << "cbolm2"
                            << "7f"
                            << "cmdDecimal" << QByteArray::fromHex("056400007f00") << "";
        QTest::newRow("zz in the second long list")
            << "cbolm3"
            << "zz"
            << "cmdDecimal" << QByteArray()
            << "Display Long Integer Number: list 2 has no value selected";
        QTest::newRow("rightmost segment list emptied")
            << "cboSeg1"
            << ""
            << "cmdSEG" << QByteArray() << "Segment Control: list 6 has no value selected";
        QTest::newRow("64 decimal points")
            << "cboDP"
            << "64"
            << "cmdDP" << QByteArray() << "Decimal Point Control: list 1 has no value selected";
        QTest::newRow("new UID 256")
            << "cboCuid"
            << "256"
            << "cmdConfig" << QByteArray() << "Configure LED Module: list 1 has no value selected";
    }
    void typedListValue()
    {
        QFETCH(QString, list);
        QFETCH(QString, typed);
        QFETCH(QString, button);
        QFETCH(QByteArray, frame);
        QFETCH(QString, message);
        Panel panel;
        panel.type(panel.get<QLineEdit>(QStringLiteral("txtdata")), QStringLiteral("HI"));
        panel.press(QStringLiteral("cmdTransmit"));
        panel.line();
        const QByteArray before = panel.window->payload();

        panel.typeInList(list, typed);
        panel.press(button);
        QCOMPARE(panel.line().toHex(' '), frame.toHex(' '));
        QCOMPARE(panel.messages, message.isEmpty() ? QStringList() : QStringList{message});
        if (frame.isEmpty()) {
            QCOMPARE(panel.window->payload().toHex(' '), before.toHex(' '));
            QCOMPARE(panel.get<ListBox>(list)->currentText(), typed);
        }
    }

    void portNotOpen_data()
    {
        QTest::addColumn<QString>("button");
        for (const char* button :
             {"cmdTransmit", "cmdDP", "cmdDecimal", "cmdShort", "cmdSEG", "cmdDIM", "cmdConfig"})
            QTest::newRow(button) << QString::fromLatin1(button);
    }
    void portNotOpen()
    {
        QFETCH(QString, button);
        Panel panel;
        auto* txtdata = panel.get<QLineEdit>(QStringLiteral("txtdata"));
        panel.type(txtdata, QStringLiteral("OK"));
        panel.window->port().close();
        panel.press(button);
        QCOMPARE(panel.messages, QStringList{PortNotOpen});
        QCOMPARE(panel.caption(), QStringLiteral("Dim"));
        if (button == QLatin1String("cmdTransmit"))
            QCOMPARE(txtdata->text(), QStringLiteral("    OK")); // kept for another press
        if (button == QLatin1String("cmdConfig"))
            QCOMPARE(panel.window->payload(), QByteArray());

        QVERIFY(panel.window->port().open());
        QCOMPARE(panel.line().toHex(' '), QByteArray());
    }

    void deviceVanishes()
    {
        Panel panel;
        panel.press(QStringLiteral("cmdDP"));
        QCOMPARE(panel.line().toHex(' '), QByteArray::fromHex("056300").toHex(' '));

        panel.pty.vanish();
        panel.press(QStringLiteral("cmdDIM"));
        QCOMPARE(panel.messages, QStringList{FrameNotSent});
        QVERIFY(!panel.window->port().isOpen());
        QCOMPARE(panel.caption(), QStringLiteral("Dim"));
        // Later presses say once each that there is no port, nothing more.
        panel.press(QStringLiteral("cmdSEG"));
        panel.press(QStringLiteral("cmdConfig"));
        QCOMPARE(panel.messages, (QStringList{FrameNotSent, PortNotOpen, PortNotOpen}));

        // A fresh device behind COM1, chosen from the menu, takes whole frames.
        Pty fresh;
        panel.ini.write(settingsFor(fresh));
        panel.messages.clear();
        panel.window->mnuCOM_Click(1);
        QCOMPARE(panel.messages, QStringList());
        // Brightness carries the payload of the last press, segments, though
        // that one never reached a module.
        panel.press(QStringLiteral("cmdDIM"));
        const QByteArray got = fresh.read();
        QCOMPARE(got.toHex(' '), QByteArray::fromHex("056e000000000000").toHex(' '));
        QCOMPARE(panel.caption(), QStringLiteral("Full Brightness"));
    }

    void portFailsWhileIdle()
    {
        Panel panel;
        emit panel.window->port().failed(QStringLiteral("device gone"));
        QCOMPARE(panel.messages, QStringList{PortFailed});
    }
};

QTEST_MAIN(tst_Commands)
#include "tst_commands.moc"
