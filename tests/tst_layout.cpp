#include "tests/support/Panel.h"
#include "window/PanelPicture.h"
#include "window/PanelStyle.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>

class tst_Layout : public QObject
{
    Q_OBJECT

private slots:
    void controls()
    {
        Panel p;
        // name, kind, parent, left,top, width x height, caption
        const QString table = QStringLiteral(R"(
Frame1 GroupFrame centralwidget 16,16 337x73 Display ASCII Characters
cmdTransmit QPushButton centralwidget 128,40 65x25 SEND
Frame2 GroupFrame centralwidget 272,200 209x73 Decimal Point Control
Frame3 GroupFrame centralwidget 16,96 337x89 Display Long Integer Number
Frame4 GroupFrame centralwidget 16,192 241x81 Display Short Integer Number
Frame5 GroupFrame centralwidget 368,16 249x121 Configure LED Module
cboUID ValueComboBox centralwidget 440,152 65x21
Label1 QLabel centralwidget 368,152 65x25 Device UID
Frame6 GroupFrame centralwidget 16,280 601x161 Segment Control
cmdDIM QPushButton centralwidget 504,224 89x25 Dim
txtdata QLineEdit Frame1 16,24 81x25
cboDP ValueComboBox Frame2 16,24 41x21
cmdDP QPushButton Frame2 96,24 97x33 Send Decimal Points
cbolm4 ValueComboBox Frame3 16,24 49x21
cbolm3 ValueComboBox Frame3 72,24 49x21
cbolm2 ValueComboBox Frame3 128,24 49x21
cbolm1 ValueComboBox Frame3 184,24 49x21
cmdDecimal QPushButton Frame3 256,24 65x25 SEND
optSigned QRadioButton Frame3 16,64 73x17 Signed
optUnsigned QRadioButton Frame3 88,64 81x17 Unsigned
cbosi2 ValueComboBox Frame4 16,24 49x21
cbosi1 ValueComboBox Frame4 72,24 49x21
optSignedS QRadioButton Frame4 16,56 57x17 Signed
optUnsignedS QRadioButton Frame4 88,56 73x17 Unsigned
cmdShort QPushButton Frame4 168,24 57x25 SEND
opt9600 QRadioButton Frame5 24,24 97x17 9600 bps
opt19200 QRadioButton Frame5 24,40 97x17 19200 bps
opt38400 QRadioButton Frame5 24,56 97x17 38400 bps
Label2 QLabel Frame5 24,80 57x17 Device UID
cboCuid ValueComboBox Frame5 96,80 65x21
cmdConfig QPushButton Frame5 128,24 81x41 CONFIGURE
Label3 QLabel Frame6 144,48 81x17 f c g b dp e d a
Label4 QLabel Frame6 144,24 73x17 Bit Position
cboSeg6 ValueComboBox Frame6 144,80 49x21
cboSeg5 ValueComboBox Frame6 200,80 49x21
cboSeg4 ValueComboBox Frame6 256,80 49x21
cboSeg3 ValueComboBox Frame6 312,80 49x21
cboSeg2 ValueComboBox Frame6 368,80 49x21
cboSeg1 ValueComboBox Frame6 424,80 49x21
cmdSEG QPushButton Frame6 496,72 73x33 SEND
Image1 QLabel Frame6 24,24 104x124)");
        for (const QString& row : table.trimmed().split('\n')) {
            QWidget* w = p.get(row.section(' ', 0, 0));
            const QRect r = w->geometry();
            const char* caption = qobject_cast<QGroupBox*>(w) ? "title" : "text"; // lists: none
            const QString got = QString::asprintf(
                "%s %s %s %d,%d %dx%d %s", qPrintable(w->objectName()),
                w->metaObject()->className(), qPrintable(w->parentWidget()->objectName()), r.x(),
                r.y(), r.width(), r.height(), qPrintable(w->property(caption).toString()));
            QCOMPARE(got.trimmed(), row);
            // Only the text field has a font or colours of its own.
            QCOMPARE(w->testAttribute(Qt::WA_SetFont) || w->testAttribute(Qt::WA_SetPalette),
                     w->objectName() == "txtdata");
            // Every list takes typing, with no completion popping up.
            if (auto* list = qobject_cast<QComboBox*>(w))
                QVERIFY2(list->isEditable() && !list->completer(), qPrintable(row));
        }
    }

    void tabChainTextFieldAndEnter()
    {
        Panel p;
        QVERIFY(p.showActive());
        const QString chain = QStringLiteral(
            "txtdata cmdTransmit cboDP cmdDP cbolm4 cbolm3 cbolm2 cbolm1 cmdDecimal optUnsigned "
            "cbosi2 cbosi1 optUnsignedS cmdShort cboUID opt9600 cboCuid cboSeg6 cboSeg5 cboSeg4 "
            "cboSeg3 cboSeg2 cboSeg1 cmdSEG cmdDIM cmdConfig txtdata");
        const auto focused = [] { // a list's own field counts as the list
            QWidget* w = QApplication::focusWidget();
            if (w && qobject_cast<ValueComboBox*>(w->parentWidget()))
                w = w->parentWidget();
            return w ? w->objectName() : QStringLiteral("(none)");
        };
        QStringList visited{focused()};
        while (visited.size() <= chain.count(' ')) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(focused());
        }
        QCOMPARE(visited.join(' '), chain);

        auto* field = p.get<QLineEdit>("txtdata");
        QTest::keyClicks(field, "1234567");
        QCOMPARE(field->text(), QString("123456"));
        field->setText("ABCD");
        QGuiApplication::clipboard()->setText("XYZ");
        QTest::keySequence(field, QKeySequence::Paste);
        QCOMPARE(field->text(), QString("ABCDXY"));
        const QFont font = field->font();
        QCOMPARE(QString("%1 %2 %3").arg(font.family()).arg(font.pointSize()).arg(font.weight()),
                 QString("Arial 12 700"));
        QCOMPARE(field->palette().color(QPalette::Text), QColor(255, 0, 0));

        // Enter presses no button, wherever the focus stands.
        int clicks = 0;
        for (QPushButton* button : p.window->findChildren<QPushButton*>())
            connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
        for (const char* control : {"txtdata", "cbolm4", "cmdDIM"}) {
            p.get(control)->setFocus(Qt::TabFocusReason);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        }
        QCOMPARE(clicks, 0);
        QCOMPARE(p.line().toHex(' '), QByteArray());
    }

    // The pictures, read without guessing their format, and the menu bar's
    // overflow icon, read only when drawn, are there.
    void pictures()
    {
        Panel p;
        QVERIFY(!p.window->windowIcon().availableSizes().isEmpty());
        QCOMPARE(p.get<QLabel>("Image1")->pixmap().size(), QSize(100, 120));
        // Read as Qt's own reader reads them.
        for (const char* path : {":/quendra/segments.ppm", ":/quendra/icon.ppm"}) {
            QImageReader qt(path, "ppm");
            QCOMPARE(panelPicture(path), qt.read().convertToFormat(QImage::Format_RGB888));
        }

        PanelStyle style;
        const QIcon deferred = style.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton);
        const QIcon own =
            style.baseStyle()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton);
        QVERIFY(!deferred.isNull());
        QCOMPARE(deferred.pixmap(16).toImage(), own.pixmap(16).toImage());
    }

    // Anything but a picture as the drawing program writes it is no picture.
    void malformedPictures_data()
    {
        QTest::addColumn<QByteArray>("ppm");
        QTest::addColumn<bool>("read");
        const QByteArray pixels(18, 'x'); // 2 x 3 pixels
        QTest::newRow("as written") << "P6\n2 3\n255\n" + pixels << true;
        QTest::newRow("one byte short") << "P6\n2 3\n255\n" + pixels.chopped(1) << false;
        QTest::newRow("one byte over") << "P6\n2 3\n255\n" + pixels + "x" << false;
        QTest::newRow("text pixels (P3)") << "P3\n2 3\n255\n" + pixels << false;
        QTest::newRow("16-bit colours") << "P6\n2 3\n65535\n" + pixels + pixels << false;
        QTest::newRow("a comment") << "P6\n# drawn\n2 3\n255\n" + pixels << false;
        QTest::newRow("no width") << QByteArray("P6\n0 3\n255\n") << false;
        QTest::newRow("too large to hold") << "P6\n99999 99999\n255\n" + pixels << false;
        QTest::newRow("header cut short") << QByteArray("P6\n2 3") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void malformedPictures()
    {
        QFETCH(QByteArray, ppm);
        QFETCH(bool, read);
        const QImage image = imageFromPpm(ppm);
        QCOMPARE(!image.isNull(), read);
        if (read)
            QCOMPARE(image.pixel(1, 2), qRgb('x', 'x', 'x'));
    }
};

QTEST_MAIN(tst_Layout)
#include "tst_layout.moc"
