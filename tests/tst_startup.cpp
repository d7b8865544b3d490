#include "Panel.h"
#include "modVariable.h"

// The window's start-up: settings read, port opened or reported, lists filled.
class tst_Startup : public QObject
{
    Q_OBJECT

    static constexpr const char* ByteLists[] = {"cbolm4",  "cbolm3",  "cbolm2",  "cbolm1",
                                                "cbosi2",  "cbosi1",  "cboSeg6", "cboSeg5",
                                                "cboSeg4", "cboSeg3", "cboSeg2", "cboSeg1"};

    // Filled and at their first items, whether or not the port opened; each
    // item stands for its position, in upper case, with no duplicates.
    static void verifyListsFilled(const Panel& p)
    {
        const QList<QPair<int, QString>> bytes{{0, "00"},  {10, "0A"},  {15, "0F"},
                                               {16, "10"}, {171, "AB"}, {255, "FF"}};
        for (const char* name : ByteLists) {
            QCOMPARE(p.list(name)->count(), 256);
            QCOMPARE(p.list(name)->currentText(), QString("00"));
            for (const auto& [position, text] : bytes)
                QCOMPARE(p.list(name)->itemText(position), text);
        }
        QCOMPARE(p.list("cboDP")->count(), 64);
        QCOMPARE(p.list("cboDP")->currentText() + p.list("cboDP")->itemText(63), QString("063"));
        for (const char* name : {"cboUID", "cboCuid"}) {
            QCOMPARE(p.list(name)->count(), 256);
            QCOMPARE(p.list(name)->itemText(10) + p.list(name)->itemText(255), QString("10255"));
        }
        for (ListBox* box : p.window->findChildren<ListBox*>()) {
            QSet<QString> seen;
            for (int i = 0; i < box->count(); ++i) {
                QCOMPARE(box->itemText(i), box->itemText(i).toUpper());
                seen.insert(box->itemText(i));
            }
            QCOMPARE(seen.size(), box->count());
        }
    }

private slots:
    void opensTheConfiguredPort()
    {
        Panel p("CommPort=2\nSetting=19200,n,8,1\nSlaveID=7");
        QCOMPARE(p.messages, QStringList());
        QVERIFY(p.window->port().isOpen());
        QCOMPARE(p.window->port().activeSettings()->baudRate, 19200);
        QCOMPARE(p.marks(), QStringList{"mnuCOM_2"}); // and no baud rate entry
        QCOMPARE(modVariable::strSettings, QString("19200,n,8,1"));
        QCOMPARE(p.list("cboUID")->currentText(), QString("7"));
        QCOMPARE(p.list("cboCuid")->currentText(), QString("7"));
        QCOMPARE(p.list("cboCuid")->currentIndex(), 7);
        verifyListsFilled(p);
        QVERIFY(p.window->port().write("\x05"));
        QCOMPARE(p.ptys[1].read(), QByteArray("\x05"));
    }

    void failureShowsMessageAndStillFillsLists_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no file at all
        QTest::addColumn<QStringList>("marks");
        QTest::addColumn<QString>("uid");
        const auto row = [](const char* name, const QByteArray& port, const char* line,
                            const QStringList& marks) {
            QTest::newRow(name) << "CommPort=" + port + "\nSetting=" + line + "\nSlaveID=5" << marks
                                << "5";
        };
        row("device missing", "4", "9600,n,8,1", {"mnuCOM_4"});
        row("line settings refused", "3", "fast", {"mnuCOM_3"});
        row("no port number", "", "9600,n,8,1", {});
        row("port 0", "0", "9600,n,8,1", {});
        row("port 7", "7", "9600,n,8,1", {});
        row("port not a number", "COM1", "9600,n,8,1", {});
        row("port with fraction", "2.5", "9600,n,8,1", {});
        QTest::newRow("no settings file") << QByteArray() << QStringList() << "";
    }
    void failureShowsMessageAndStillFillsLists()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, marks);
        QFETCH(QString, uid);
        Panel p(settings);
        QCOMPARE(p.messages, QStringList{"COMM PORT ERROR"});
        QVERIFY(!p.details[0].isEmpty());
        if (marks == QStringList{"mnuCOM_4"}) // the operator learns which device and why
            QVERIFY2(p.details[0].startsWith(Panel::Missing + QString(":")),
                     qPrintable(p.details[0]));
        QVERIFY(!p.window->port().isOpen());
        QCOMPARE(p.marks(), marks);
        QCOMPARE(modVariable::strSlaveID, uid);
        QCOMPARE(p.list("cboUID")->currentText(), uid);
        verifyListsFilled(p);
    }

    void slaveIdShownAsRead_data()
    {
        QTest::addColumn<QByteArray>("uid");
        QTest::addColumn<int>("index");
        QTest::newRow("missing") << QByteArray() << -1;
        QTest::newRow("0") << QByteArray("0") << 0;
        QTest::newRow("255") << QByteArray("255") << 255;
        QTest::newRow("above 255") << QByteArray("300") << -1;
        QTest::newRow("letters") << QByteArray("abc") << -1;
    }
    void slaveIdShownAsRead()
    {
        QFETCH(QByteArray, uid);
        QFETCH(int, index);
        Panel p("CommPort=1\nSetting=9600,n,8,1\nSlaveID=" + uid);
        QCOMPARE(p.messages, QStringList());
        for (const char* name : {"cboUID", "cboCuid"}) {
            QCOMPARE(p.list(name)->currentText(), QString::fromUtf8(uid));
            QCOMPARE(p.list(name)->currentIndex(), index);
        }
    }

    // Typed text selects the item it matches, ignoring case, or none; the
    // operator's text stays as typed.
    void typedTextSelectsTheMatchingItem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("index");
        const auto row = [](const char* name, const char* list, const char* typed, int index) {
            QTest::newRow(name) << QString(list) << QString(typed) << index;
        };
        row("byte list, lower case", "cbolm1", "7f", 0x7F);
        row("byte list, no match", "cbosi2", "zz", -1);
        row("byte list, one digit", "cbolm2", "7", -1);
        row("uid list", "cboCuid", "12", 12);
        row("uid list, leading zero", "cboCuid", "012", -1);
        row("dp list", "cboDP", "63", 63);
        row("dp list, too big", "cboDP", "64", -1);
    }
    void typedTextSelectsTheMatchingItem()
    {
        QFETCH(QString, name);
        QFETCH(QString, typed);
        QFETCH(int, index);
        Panel p;
        p.type(name, typed);
        QCOMPARE(p.list(name)->currentIndex(), index);
        QCOMPARE(p.list(name)->currentText(), typed);
        QCOMPARE(p.list(name)->count(), name == "cboDP" ? 64 : 256);
    }
};

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
