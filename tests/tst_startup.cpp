#include "tests/support/Panel.h"

// The window's start-up: settings read, port opened or reported, lists filled.
class tst_Startup : public QObject
{
    Q_OBJECT

    // Filled and at their first items whether or not the port opened; each
    // item stands for its position, in upper case.
    static void verifyListsFilled(const Panel& p)
    {
        for (const char* name : {"cbolm4", "cbosi1", "cboSeg1"}) {
            QCOMPARE(p.list(name)->count(), 256);
            QCOMPARE(p.list(name)->currentText() + p.list(name)->itemText(10) +
                         p.list(name)->itemText(171) + p.list(name)->itemText(255),
                     QString("000AABFF"));
        }
        QCOMPARE(p.list("cboDP")->count(), 64);
        QCOMPARE(p.list("cboDP")->currentText() + p.list("cboDP")->itemText(63), QString("063"));
        QCOMPARE(p.list("cboCuid")->count(), 256);
        QCOMPARE(p.list("cboCuid")->itemText(10) + p.list("cboCuid")->itemText(255),
                 QString("10255"));
    }

private slots:
    void opensTheConfiguredPort()
    {
        Panel p("CommPort=2\nSetting=19200,n,8,1\nSlaveID=7");
        QCOMPARE(p.messages, QStringList());
        QVERIFY(p.window->port().isOpen());
        QCOMPARE(p.window->port().activeSettings()->baudRate, 19200);
        QCOMPARE(p.marks(), QStringList{"mnuCOM_2"}); // and no baud rate entry
        QCOMPARE(p.list("cboUID")->currentText(), QString("7"));
        QCOMPARE(p.list("cboCuid")->currentText(), QString("7"));
        QCOMPARE(p.list("cboCuid")->currentIndex(), 7);
        verifyListsFilled(p);
        QVERIFY(p.window->port().write("\x05").ok());
        QCOMPARE(p.ptys[1].read(), QByteArray("\x05"));
    }

    void failureShowsMessageAndStillFillsLists_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no file at all
        QTest::addColumn<QStringList>("marks");
        QTest::addColumn<QString>("detail"); // what the smaller text must hold
        QTest::newRow("device missing") << QByteArray("CommPort=4\nSetting=9600,n,8,1\nSlaveID=5")
                                        << QStringList{"mnuCOM_4"} << QString(Panel::Missing) + ":";
        QTest::newRow("settings refused") << QByteArray("CommPort=3\nSetting=fast\nSlaveID=5")
                                          << QStringList{"mnuCOM_3"} << "fast";
        QTest::newRow("port 7") << QByteArray("CommPort=7\nSetting=9600,n,8,1\nSlaveID=5")
                                << QStringList() << "quendra.ini: CommPort \"7\" is not a port";
        // A first start without the file says where it was looked for.
        QTest::newRow("no settings file")
            << QByteArray() << QStringList()
            << "/quendra.ini is missing; the README (\"Settings\") has a sample";
    }
    void failureShowsMessageAndStillFillsLists()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, marks);
        QFETCH(QString, detail);
        Panel p(settings);
        QCOMPARE(p.messages, QStringList{"COMM PORT ERROR"});
        QVERIFY2(p.details[0].contains(detail), qPrintable(p.details[0]));
        QVERIFY(!p.window->port().isOpen());
        QCOMPARE(p.marks(), marks);
        verifyListsFilled(p);
    }
};

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
