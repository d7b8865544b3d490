#include "Panel.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>

namespace {

QString caption(const QWidget* w)
{
    if (auto* group = qobject_cast<const QGroupBox*>(w))
        return group->title();
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    return {}; // lists and the text field start empty
}

// The control holding the focus; an editable list's own field counts as the list.
QString focused()
{
    QWidget* w = QApplication::focusWidget();
    if (w && qobject_cast<ListBox*>(w->parentWidget()))
        w = w->parentWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

void tab(Qt::Key key = Qt::Key_Tab)
{
    QTest::keyClick(QApplication::focusWidget(), key);
}

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
        // clang-format off
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
        // clang-format on
    }
    void controls()
    {
        QFETCH(QString, kind);
        QFETCH(QString, parent);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        Panel p;
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        QWidget* w = p.get(name);
        QCOMPARE(QString(w->metaObject()->className()), kind);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(caption(w), text);
        QCOMPARE(w->geometry(), geometry);
        QVERIFY(w->isEnabled() && w->isVisible() && w->toolTip().isEmpty());
        if (auto* button = qobject_cast<QPushButton*>(w))
            QVERIFY(!button->autoDefault() && !button->isDefault());
        // Only the text field has a font or colours of its own.
        QCOMPARE(w->testAttribute(Qt::WA_SetFont) || w->testAttribute(Qt::WA_SetPalette),
                 name == "txtdata");
    }

    // Nothing stands in the window that the table does not name; fixed size.
    void window()
    {
        Panel p;
        QSet<QString> names;
        for (QWidget* w : p.window->centralWidget()->findChildren<QWidget*>()) {
            if (w->parentWidget() == p.window->centralWidget() ||
                w->parentWidget()->objectName().startsWith("Frame"))
                names.insert(w->objectName());
        }
        QCOMPARE(names.size(), 41);
        QCOMPARE(p.window->windowTitle(), QString("QuendraAPP"));
        QVERIFY(p.showActive());
        QCOMPARE(p.window->centralWidget()->geometry(),
                 QRect(0, p.window->menuBar()->height(), 639, 458));
        QCOMPARE(p.window->minimumSize(), p.window->maximumSize());
        QVERIFY(p.window->windowIcon().availableSizes().contains(QSize(32, 32)));
        QCOMPARE(p.get<QLabel>("Image1")->contentsRect().size(), QSize(100, 120));
        QCOMPARE(p.get<QLabel>("Image1")->pixmap().size(), QSize(100, 120));
        // SEND lies over the text field's group yet takes clicks there.
        QCOMPARE(p.window->centralWidget()->childAt(p.get("cmdTransmit")->geometry().center()),
                 p.get("cmdTransmit"));
        // Each group's border runs through the middle of its caption, nothing above it.
        for (QGroupBox* frame : p.window->findChildren<QGroupBox*>()) {
            QImage image(frame->size(), QImage::Format_RGB32);
            frame->render(&image);
            const int edge = frame->fontMetrics().height() / 2;
            const QRgb ground = frame->palette().color(QPalette::Window).rgb();
            for (const int x : {2, frame->width() - 3})
                QVERIFY(image.pixel(x, edge) != ground && image.pixel(x, edge - 2) == ground);
            QVERIFY(image.pixel(0, frame->height() - 2) != ground);
        }
    }

    void tabChain()
    {
        Panel p;
        QVERIFY(p.showActive());
        const QStringList chain = {
            "txtdata",      "cmdTransmit", "cboDP",      "cmdDP",       "cbolm4",  "cbolm3",
            "cbolm2",       "cbolm1",      "cmdDecimal", "optUnsigned", "cbosi2",  "cbosi1",
            "optUnsignedS", "cmdShort",    "cboUID",     "opt9600",     "cboCuid", "cboSeg6",
            "cboSeg5",      "cboSeg4",     "cboSeg3",    "cboSeg2",     "cboSeg1", "cmdSEG",
            "cmdDIM",       "cmdConfig",   "txtdata"};
        QStringList visited{focused()};
        for (int i = 1; i < chain.size(); ++i) {
            tab();
            visited.append(focused());
        }
        QCOMPARE(visited, chain);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focused(), QString("cmdConfig"));

        // Three independent option sets: a click moves only its own set's
        // choice, and Tab stops on the option chosen in each.
        const auto chosen = [&p] {
            QStringList got;
            for (const QRadioButton* option : p.window->findChildren<QRadioButton*>())
                if (option->isChecked())
                    got.append(option->objectName());
            return got.join(' ');
        };
        QCOMPARE(chosen(), QString("optUnsigned optUnsignedS opt9600"));
        for (const char* click : {"optSigned", "optSignedS", "opt38400"})
            QTest::mouseClick(p.get(click), Qt::LeftButton, {}, QPoint(6, 8));
        QCOMPARE(chosen(), QString("optSigned optSignedS opt38400"));
        p.get("cmdDecimal")->setFocus();
        tab();
        QCOMPARE(focused(), QString("optSigned"));
        p.get("cboUID")->setFocus();
        tab();
        QCOMPARE(focused(), QString("opt38400"));
        tab();
        QCOMPARE(focused(), QString("cboCuid"));
    }

    void textFieldLength_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("after");
        const auto row = [](const char* name, const char* before, const char* typed,
                            const char* pasted, const char* after) {
            QTest::newRow(name) << QString(before) << QString(typed) << QString(pasted)
                                << QString(after);
        };
        row("seventh key", "", "1234567", "", "123456");
        row("long paste", "", "", "ABCDEFGHIJ", "ABCDEF");
        row("paste into a full field", "ABCDEF", "", "XY", "ABCDEF");
        row("paste fills the rest", "ABCD", "", "XYZ", "ABCDXY");
    }
    void textFieldLength()
    {
        QFETCH(QString, before);
        QFETCH(QString, typed);
        QFETCH(QString, pasted);
        QFETCH(QString, after);
        Panel p;
        QVERIFY(p.showActive());
        auto* field = p.get<QLineEdit>("txtdata");
        field->setText(before);
        QTest::keyClicks(field, typed);
        if (!pasted.isEmpty()) {
            QGuiApplication::clipboard()->setText(pasted);
            QTest::keySequence(field, QKeySequence::Paste);
        }
        QCOMPARE(field->text(), after);
    }

    void textFieldLook()
    {
        Panel p;
        auto* field = p.get<QLineEdit>("txtdata");
        QCOMPARE(field->font().family(), QString("Arial"));
        QCOMPARE(field->font().pointSize(), 12);
        QCOMPARE(field->font().weight(), QFont::Bold);
        for (auto group : {QPalette::Active, QPalette::Inactive})
            QCOMPARE(field->palette().color(group, QPalette::Text), QColor(255, 0, 0));
    }

    void enterPressesNothing_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::newRow("Enter in text field") << "txtdata" << int(Qt::Key_Return);
        QTest::newRow("keypad Enter in text field") << "txtdata" << int(Qt::Key_Enter);
        QTest::newRow("Enter in byte list") << "cbolm4" << int(Qt::Key_Return);
        QTest::newRow("Enter in UID list") << "cboUID" << int(Qt::Key_Return);
        QTest::newRow("Enter on a focused button") << "cmdDIM" << int(Qt::Key_Return);
    }
    void enterPressesNothing()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        Panel p;
        QVERIFY(p.showActive());
        int clicks = 0;
        for (QPushButton* button : p.window->findChildren<QPushButton*>())
            connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
        p.get<QLineEdit>("txtdata")->setText("HI");
        p.get(control)->setFocus(Qt::TabFocusReason);
        tab(Qt::Key(key));
        QCOMPARE(clicks, 0);
        QCOMPARE(p.line().toHex(' '), QByteArray());
    }
};

QTEST_MAIN(tst_Layout)
#include "tst_layout.moc"
