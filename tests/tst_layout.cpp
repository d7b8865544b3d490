#include "ListBox.h"
#include "Pty.h"
#include "TestIni.h"
#include "frmMain.h"
#include "modVariable.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

namespace {

// A panel on a pseudo-terminal as COM1, with every message recorded. COM3
// names a device that cannot exist.
struct Panel
{
    Pty pty;
    TestIni ini;
    QStringList messages;
    std::unique_ptr<frmMain> window;

    Panel()
        : ini("[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=5\n[Ports]\nCOM1=" +
              pty.devicePath().toUtf8() + "\nCOM3=/nonexistent/quendra-tty\n")
    {
        window = std::make_unique<frmMain>(
            [this](const QString& text, const QString&) { messages.append(text); });
    }

    template <typename T = QWidget> T* control(const QString& name) const
    {
        return window->findChild<T*>(name);
    }

    bool showActive()
    {
        window->show();
        return QTest::qWaitForWindowActive(window.get());
    }
};

QString caption(const QWidget* w)
{
    if (auto* group = qobject_cast<const QGroupBox*>(w))
        return group->title();
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    if (auto* field = qobject_cast<const QLineEdit*>(w))
        return field->text();
    return {}; // lists carry no caption; start-up fills them
}

// The control that holds the focus: an editable list's own field counts as
// the list.
QString focusedControl()
{
    QWidget* w = QApplication::focusWidget();
    if (w && qobject_cast<ListBox*>(w->parentWidget()))
        w = w->parentWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

const QStringList TabChain = {
    "txtdata", "cmdTransmit", "cboDP",       "cmdDP",   "cbolm4",   "cbolm3",       "cbolm2",
    "cbolm1",  "cmdDecimal",  "optUnsigned", "cbosi2",  "cbosi1",   "optUnsignedS", "cmdShort",
    "cboUID",  "opt9600",     "cboCuid",     "cboSeg6", "cboSeg5",  "cboSeg4",      "cboSeg3",
    "cboSeg2", "cboSeg1",     "cmdSEG",      "cmdDIM",  "cmdConfig"};

const QStringList Options = {"optSigned", "optUnsigned", "optSignedS", "optUnsignedS",
                             "opt9600",   "opt19200",    "opt38400"};

} // namespace

class tst_Layout : public QObject
{
    Q_OBJECT

private slots:
    void controls_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        const auto row = [](const char* name, const char* kind, const char* parent,
                            const char* text, int l, int t, int w, int h) {
            QTest::newRow(name) << kind << parent << text << QRect(l, t, w, h);
        };
        const char* Window = "centralwidget";
        row("Frame1", "GroupFrame", Window, "Display ASCII Characters", 16, 16, 337, 73);
        row("cmdTransmit", "QPushButton", Window, "SEND", 128, 40, 65, 25);
        row("Frame2", "GroupFrame", Window, "Decimal Point Control", 272, 200, 209, 73);
        row("Frame3", "GroupFrame", Window, "Display Long Integer Number", 16, 96, 337, 89);
        row("Frame4", "GroupFrame", Window, "Display Short Integer Number", 16, 192, 241, 81);
        row("Frame5", "GroupFrame", Window, "Configure LED Module", 368, 16, 249, 121);
        row("cboUID", "ListBox", Window, "", 440, 152, 65, 21);
        row("Label1", "QLabel", Window, "Device UID", 368, 152, 65, 25);
        row("Frame6", "GroupFrame", Window, "Segment Control", 16, 280, 601, 161);
        row("cmdDIM", "QPushButton", Window, "Dim", 504, 224, 89, 25);

        row("txtdata", "QLineEdit", "Frame1", "", 16, 24, 81, 25);

        row("cboDP", "ListBox", "Frame2", "", 16, 24, 41, 21);
        row("cmdDP", "QPushButton", "Frame2", "Send Decimal Points", 96, 24, 97, 33);

        row("cbolm4", "ListBox", "Frame3", "", 16, 24, 49, 21);
        row("cbolm3", "ListBox", "Frame3", "", 72, 24, 49, 21);
        row("cbolm2", "ListBox", "Frame3", "", 128, 24, 49, 21);
        row("cbolm1", "ListBox", "Frame3", "", 184, 24, 49, 21);
        row("cmdDecimal", "QPushButton", "Frame3", "SEND", 256, 24, 65, 25);
        row("optSigned", "QRadioButton", "Frame3", "Signed", 16, 64, 73, 17);
        row("optUnsigned", "QRadioButton", "Frame3", "Unsigned", 88, 64, 81, 17);

        row("cbosi2", "ListBox", "Frame4", "", 16, 24, 49, 21);
        row("cbosi1", "ListBox", "Frame4", "", 72, 24, 49, 21);
        row("optSignedS", "QRadioButton", "Frame4", "Signed", 16, 56, 57, 17);
        row("optUnsignedS", "QRadioButton", "Frame4", "Unsigned", 88, 56, 73, 17);
        row("cmdShort", "QPushButton", "Frame4", "SEND", 168, 24, 57, 25);

        row("opt9600", "QRadioButton", "Frame5", "9600 bps", 24, 24, 97, 17);
        row("opt19200", "QRadioButton", "Frame5", "19200 bps", 24, 40, 97, 17);
        row("opt38400", "QRadioButton", "Frame5", "38400 bps", 24, 56, 97, 17);
        row("Label2", "QLabel", "Frame5", "Device UID", 24, 80, 57, 17);
        row("cboCuid", "ListBox", "Frame5", "", 96, 80, 65, 21);
        row("cmdConfig", "QPushButton", "Frame5", "CONFIGURE", 128, 24, 81, 41);

        row("Label3", "QLabel", "Frame6", "f c g b dp e d a", 144, 48, 81, 17);
        row("Label4", "QLabel", "Frame6", "Bit Position", 144, 24, 73, 17);
        row("cboSeg6", "ListBox", "Frame6", "", 144, 80, 49, 21);
        row("cboSeg5", "ListBox", "Frame6", "", 200, 80, 49, 21);
        row("cboSeg4", "ListBox", "Frame6", "", 256, 80, 49, 21);
        row("cboSeg3", "ListBox", "Frame6", "", 312, 80, 49, 21);
        row("cboSeg2", "ListBox", "Frame6", "", 368, 80, 49, 21);
        row("cboSeg1", "ListBox", "Frame6", "", 424, 80, 49, 21);
        row("cmdSEG", "QPushButton", "Frame6", "SEND", 496, 72, 73, 33);
        row("Image1", "QLabel", "Frame6", "", 24, 24, 104, 124);
    }
    void controls()
    {
        QFETCH(QString, kind);
        QFETCH(QString, parent);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        Panel panel;
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        QWidget* w = panel.control(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(caption(w), text);
        QCOMPARE(w->geometry(), geometry);
        QVERIFY(w->isEnabled());
        QVERIFY(!w->isHidden());
        QVERIFY(w->toolTip().isEmpty());
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            QVERIFY(!button->autoDefault());
            QVERIFY(!button->isDefault());
        }
        if (name != QLatin1String("txtdata")) {
            QVERIFY(!w->testAttribute(Qt::WA_SetFont));
            QVERIFY(!w->testAttribute(Qt::WA_SetPalette));
        }
    }

    // Nothing stands in the window that the layout does not name.
    void noOtherControls()
    {
        Panel panel;
        QStringList names;
        const auto collect = [&names](QWidget* container) {
            for (QWidget* w : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                names.append(w->objectName());
        };
        collect(panel.window->centralWidget());
        for (int i = 1; i <= 6; ++i)
            collect(panel.control(QStringLiteral("Frame%1").arg(i)));
        names.removeDuplicates();
        names.removeAll(QString());
        QCOMPARE(names.size(), 41);
    }

    void window()
    {
        Panel panel;
        frmMain& w = *panel.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("QuendraAPP"));
        QVERIFY(panel.showActive());
        QCOMPARE(w.centralWidget()->size(), QSize(639, 458));
        QCOMPARE(w.centralWidget()->y(), w.menuBar()->height());
        QCOMPARE(w.size(), QSize(639, 458 + w.menuBar()->height()));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(w.windowIcon().availableSizes().contains(QSize(32, 32)));

        auto* picture = panel.control<QLabel>("Image1");
        QCOMPARE(picture->pixmap().size(), QSize(100, 120));
        QCOMPARE(picture->frameWidth(), 2);
        QCOMPARE(picture->contentsRect().size(), QSize(100, 120));
    }

    // The border's top line runs through the middle of the caption and out to
    // both sides; nothing is drawn above it.
    void groupCaptionInTopEdge_data()
    {
        QTest::addColumn<QString>("group");
        for (int i = 1; i <= 6; ++i)
            QTest::newRow(qPrintable(QStringLiteral("Frame%1").arg(i)))
                << QStringLiteral("Frame%1").arg(i);
    }
    void groupCaptionInTopEdge()
    {
        QFETCH(QString, group);
        Panel panel;
        QWidget* frame = panel.control(group);
        // Drawn at one pixel per unit, so the places hold with any screen
        // scale; the shades of the line depend on it.
        QImage image(frame->size(), QImage::Format_RGB32);
        frame->render(&image);
        const int edge = frame->fontMetrics().height() / 2;
        const QRgb ground = frame->palette().color(QPalette::Window).rgb();
        QVERIFY(image.pixel(2, edge) != ground);
        QVERIFY(image.pixel(frame->width() - 3, edge) != ground);
        QCOMPARE(image.pixel(2, edge - 2), ground);
        QCOMPARE(image.pixel(frame->width() - 3, edge - 2), ground);
        QVERIFY(image.pixel(0, frame->height() - 2) != ground);
    }

    void options_data()
    {
        QTest::addColumn<QString>("click");
        QTest::addColumn<QStringList>("chosen");
        QTest::newRow("as built") << QString()
                                  << QStringList{"optUnsigned", "optUnsignedS", "opt9600"};
        QTest::newRow("Signed, long")
            << "optSigned" << QStringList{"optSigned", "optUnsignedS", "opt9600"};
        QTest::newRow("Signed, short")
            << "optSignedS" << QStringList{"optUnsigned", "optSignedS", "opt9600"};
        QTest::newRow("38400 bps")
            << "opt38400" << QStringList{"optUnsigned", "optUnsignedS", "opt38400"};
    }
    void options()
    {
        QFETCH(QString, click);
        QFETCH(QStringList, chosen);
        Panel panel;
        if (!click.isEmpty())
            QTest::mouseClick(panel.control(click), Qt::LeftButton, {}, QPoint(6, 8));
        QStringList got;
        for (const QString& name : Options)
            if (panel.control<QRadioButton>(name)->isChecked())
                got.append(name);
        QCOMPARE(got, chosen);
    }

    void tabChain()
    {
        Panel panel;
        QVERIFY(panel.showActive());
        QStringList visited{focusedControl()};
        for (int i = 0; i < TabChain.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(focusedControl());
        }
        QCOMPARE(visited, TabChain + QStringList{"txtdata"});

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focusedControl(), QStringLiteral("cmdConfig"));
    }

    // Tab stops on the option the operator chose, wherever the focus was.
    void tabFindsChosenOption()
    {
        Panel panel;
        QVERIFY(panel.showActive());
        panel.control<QRadioButton>("optSigned")->setChecked(true);
        panel.control<QRadioButton>("opt38400")->setChecked(true);
        panel.control("cmdDecimal")->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusedControl(), QStringLiteral("optSigned"));
        panel.control("cboUID")->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusedControl(), QStringLiteral("opt38400"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusedControl(), QStringLiteral("cboCuid"));
    }

    void textFieldLength_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("after");
        QTest::newRow("long paste, empty field") << ""
                                                 << "ABCDEFGHIJ"
                                                 << "ABCDEF";
        QTest::newRow("paste into a full field") << "ABCDEF"
                                                 << "XY"
                                                 << "ABCDEF";
        QTest::newRow("paste fills the rest") << "ABCD"
                                              << "XYZ"
                                              << "ABCDXY";
    }
    void textFieldLength()
    {
        QFETCH(QString, before);
        QFETCH(QString, pasted);
        QFETCH(QString, after);
        Panel panel;
        QVERIFY(panel.showActive());
        auto* field = panel.control<QLineEdit>("txtdata");
        field->setText(before);
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keySequence(field, QKeySequence::Paste);
        QCOMPARE(field->text(), after);
    }

    void seventhKeyRefused()
    {
        Panel panel;
        QVERIFY(panel.showActive());
        auto* field = panel.control<QLineEdit>("txtdata");
        QTest::keyClicks(field, QStringLiteral("1234567"));
        QCOMPARE(field->text(), QStringLiteral("123456"));
    }

    void textFieldLook()
    {
        Panel panel;
        auto* field = panel.control<QLineEdit>("txtdata");
        const QFont font = field->font();
        QCOMPARE(font.family(), QStringLiteral("Arial"));
        QCOMPARE(font.pointSize(), 12);
        QCOMPARE(font.weight(), QFont::Bold);
        for (auto group : {QPalette::Active, QPalette::Inactive})
            QCOMPARE(field->palette().color(group, QPalette::Text), QColor(255, 0, 0));
        // What fontconfig put in Arial's place, for the record.
        qInfo("Arial resolves to %s", qPrintable(QFontInfo(font).family()));
    }

    void enterPressesNothing_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::newRow("Enter in text field") << "txtdata" << int(Qt::Key_Return);
        QTest::newRow("keypad Enter in text field") << "txtdata" << int(Qt::Key_Enter);
        QTest::newRow("Escape in text field") << "txtdata" << int(Qt::Key_Escape);
        QTest::newRow("Enter in byte list") << "cbolm4" << int(Qt::Key_Return);
        QTest::newRow("Enter in UID list") << "cboUID" << int(Qt::Key_Return);
        QTest::newRow("Enter in decimal point list") << "cboDP" << int(Qt::Key_Enter);
        QTest::newRow("Enter on an option") << "opt19200" << int(Qt::Key_Return);
        QTest::newRow("Enter on a focused button") << "cmdDIM" << int(Qt::Key_Return);
    }
    void enterPressesNothing()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        Panel panel;
        QVERIFY(panel.showActive());
        int clicks = 0;
        for (QPushButton* button : panel.window->findChildren<QPushButton*>())
            connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
        panel.control<QLineEdit>("txtdata")->setText(QStringLiteral("HI"));
        QWidget* w = panel.control(control);
        w->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(clicks, 0);
        QVERIFY(panel.window->payload().isEmpty());
        QCOMPARE(panel.pty.read(0).toHex(' '), QByteArray());
        QCOMPARE(panel.control<QPushButton>("cmdDIM")->text(), QStringLiteral("Dim"));
    }

    // "SEND" lies over the text field's group yet takes the click there.
    void sendOverGroupTakesClick()
    {
        Panel panel;
        QVERIFY(panel.showActive());
        auto* send = panel.control<QPushButton>("cmdTransmit");
        QSignalSpy clicked(send, &QPushButton::clicked);
        const QPoint inside = send->geometry().center();
        QVERIFY(panel.control("Frame1")->geometry().contains(inside));
        QWidget* hit = panel.window->centralWidget()->childAt(inside);
        QCOMPARE(hit ? hit->objectName() : QString(), QStringLiteral("cmdTransmit"));
        QTest::mouseClick(hit, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }

    void menuEntries()
    {
        Panel panel;
        const QList<QAction*> menus = panel.window->menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus.at(0)->text(), QStringLiteral("Comm Port"));
        QCOMPARE(menus.at(1)->text(), QStringLiteral("Baud Rate"));
        QStringList captions[2];
        for (int m = 0; m < 2; ++m) {
            for (QAction* entry : menus.at(m)->menu()->actions()) {
                QVERIFY(!entry->isSeparator());
                QVERIFY(entry->shortcut().isEmpty());
                QVERIFY(!entry->menu());
                QVERIFY(entry->isEnabled() && entry->isVisible());
                captions[m].append(entry->text());
            }
        }
        QCOMPARE(captions[0], (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"}));
        QCOMPARE(captions[1], (QStringList{"9600bps", "19200bps", "38400bps"}));
    }

    void menuMarks_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("commPort");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("marked");
        QTest::addColumn<QStringList>("messages");
        const QStringList none;
        const QStringList notAvailable{"Selected Port Not Available"};
        QTest::newRow("as loaded") << ""
                                   << "1"
                                   << "9600,n,8,1" << QStringList{"mnuCOM_1"} << none;
        QTest::newRow("COM1 again") << "mnuCOM_1"
                                    << "1"
                                    << "9600,n,8,1" << QStringList{"mnuCOM_1"} << none;
        QTest::newRow("COM3, no device") << "mnuCOM_3"
                                         << "3"
                                         << "9600,n,8,1" << QStringList{"mnuCOM_3"} << notAvailable;
        QTest::newRow("38400bps") << "mnuBR_3"
                                  << "1"
                                  << "38400,n,8,1" << QStringList{"mnuCOM_1", "mnuBR_3"} << none;
        QTest::newRow("19200bps") << "mnuBR_2"
                                  << "1"
                                  << "19200,n,8,1" << QStringList{"mnuCOM_1", "mnuBR_2"} << none;
    }
    void menuMarks()
    {
        QFETCH(QString, entry);
        QFETCH(QString, commPort);
        QFETCH(QString, settings);
        QFETCH(QStringList, marked);
        QFETCH(QStringList, messages);
        Panel panel;
        QVERIFY2(panel.messages.isEmpty(), qPrintable(panel.messages.join('|')));
        if (!entry.isEmpty())
            panel.window->findChild<QAction*>(entry)->trigger();
        QStringList got;
        for (QAction* menu : panel.window->menuBar()->actions())
            for (QAction* a : menu->menu()->actions())
                if (a->isChecked())
                    got.append(a->objectName());
        QCOMPARE(got, marked);
        QCOMPARE(modVariable::strCommPort, commPort);
        QCOMPARE(modVariable::strSettings, settings);
        QCOMPARE(panel.messages, messages);
    }
};

QTEST_MAIN(tst_Layout)
#include "tst_layout.moc"
