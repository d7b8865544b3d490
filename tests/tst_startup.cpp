#include "ListBox.h"
#include "Pty.h"
#include "TestIni.h"
#include "frmMain.h"
#include "modVariable.h"

#include <QAction>
#include <QLineEdit>
#include <QtTest>

namespace {

struct Message
{
    QString text;
    QString detail;
};

const char* const ByteLists[] = {"cbolm4",  "cbolm3",  "cbolm2",  "cbolm1",  "cbosi2",  "cbosi1",
                                 "cboSeg6", "cboSeg5", "cboSeg4", "cboSeg3", "cboSeg2", "cboSeg1"};

QByteArray settingsIni(const QByteArray& port, const QByteArray& line, const QByteArray& uid,
                       const QString& device)
{
    return "[Settings]\nCommPort=" + port + "\nSetting=" + line + "\nSlaveID=" + uid +
           "\n[Ports]\nCOM" + port + "=" + device.toUtf8() + "\n";
}

} // namespace

// The window's start-up: settings read, port opened or reported, lists filled.
class tst_Startup : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<frmMain> start(QList<Message>& messages)
    {
        return std::make_unique<frmMain>([&messages](const QString& text, const QString& detail) {
            messages.append({text, detail});
        });
    }

    static ListBox* list(frmMain& w, const char* name) { return w.findChild<ListBox*>(name); }

    static QList<int> marked(frmMain& w, const char* prefix, int count)
    {
        QList<int> marks;
        for (int i = 1; i <= count; ++i) {
            auto* entry = w.findChild<QAction*>(QStringLiteral("%1_%2").arg(prefix).arg(i));
            if (entry && entry->isChecked())
                marks.append(i);
        }
        return marks;
    }

    static void verifyListsFilled(frmMain& w)
    {
        for (const char* name : ByteLists) {
            ListBox* box = list(w, name);
            QCOMPARE(box->count(), 256);
            QCOMPARE(box->currentIndex(), 0);
            QCOMPARE(box->currentText(), QString("00"));
        }
        QCOMPARE(list(w, "cboDP")->count(), 64);
        QCOMPARE(list(w, "cboDP")->currentText(), QString("0"));
        QCOMPARE(list(w, "cboUID")->count(), 256);
        QCOMPARE(list(w, "cboCuid")->count(), 256);
    }

private slots:
    void opensTheConfiguredPort()
    {
        Pty pty;
        TestIni ini(settingsIni("2", "19200,n,8,1", "7", pty.devicePath()));
        QList<Message> messages;
        auto w = start(messages);

        QVERIFY(messages.isEmpty());
        QVERIFY(w->port().isOpen());
        QCOMPARE(w->port().commPort(), qint16(2));
        QCOMPARE(w->port().activeSettings()->baudRate, 19200);
        QCOMPARE(marked(*w, "mnuCOM", 6), QList<int>{2});
        QCOMPARE(marked(*w, "mnuBR", 3), QList<int>{});
        QCOMPARE(modVariable::strCommPort, QString("2"));
        QCOMPARE(modVariable::strSettings, QString("19200,n,8,1"));
        QCOMPARE(modVariable::strSlaveID, QString("7"));
        QCOMPARE(list(*w, "cboUID")->currentText(), QString("7"));
        QCOMPARE(list(*w, "cboCuid")->currentText(), QString("7"));
        QCOMPARE(list(*w, "cboCuid")->currentIndex(), 7);
        verifyListsFilled(*w);
    }

    void listItemsStandForTheirPositions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("text");
        for (const char* name : ByteLists) {
            const QByteArray n(name);
            QTest::newRow(n + " 0") << QString(name) << 0 << "00";
            QTest::newRow(n + " 10") << QString(name) << 10 << "0A";
            QTest::newRow(n + " 15") << QString(name) << 15 << "0F";
            QTest::newRow(n + " 16") << QString(name) << 16 << "10";
            QTest::newRow(n + " 171") << QString(name) << 171 << "AB";
            QTest::newRow(n + " 255") << QString(name) << 255 << "FF";
        }
        QTest::newRow("cboDP 0") << "cboDP" << 0 << "0";
        QTest::newRow("cboDP 63") << "cboDP" << 63 << "63";
        for (const char* name : {"cboUID", "cboCuid"}) {
            const QByteArray n(name);
            QTest::newRow(n + " 9") << QString(name) << 9 << "9";
            QTest::newRow(n + " 10") << QString(name) << 10 << "10";
            QTest::newRow(n + " 255") << QString(name) << 255 << "255";
        }
    }
    void listItemsStandForTheirPositions()
    {
        QFETCH(QString, name);
        QFETCH(int, position);
        QFETCH(QString, text);
        Pty pty;
        TestIni ini(settingsIni("1", "9600,n,8,1", "1", pty.devicePath()));
        QList<Message> messages;
        auto w = start(messages);
        auto* box = w->findChild<ListBox*>(name);
        QCOMPARE(box->itemText(position), text);
        // No duplicates and no lower case anywhere in the list.
        QSet<QString> seen;
        for (int i = 0; i < box->count(); ++i) {
            QCOMPARE(box->itemText(i), box->itemText(i).toUpper());
            seen.insert(box->itemText(i));
        }
        QCOMPARE(seen.size(), box->count());
    }

    void failureShowsMessageAndStillFillsLists_data()
    {
        QTest::addColumn<QByteArray>("port");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("deviceExists");
        QTest::addColumn<QList<int>>("marks");
        QTest::newRow("device missing")
            << QByteArray("4") << QByteArray("9600,n,8,1") << false << QList<int>{4};
        QTest::newRow("line settings refused")
            << QByteArray("3") << QByteArray("fast") << true << QList<int>{3};
        QTest::newRow("no port number")
            << QByteArray("") << QByteArray("9600,n,8,1") << true << QList<int>{};
        QTest::newRow("port 0") << QByteArray("0") << QByteArray("9600,n,8,1") << true
                                << QList<int>{};
        QTest::newRow("port 7") << QByteArray("7") << QByteArray("9600,n,8,1") << true
                                << QList<int>{};
        QTest::newRow("port not a number")
            << QByteArray("COM1") << QByteArray("9600,n,8,1") << true << QList<int>{};
        QTest::newRow("port with fraction")
            << QByteArray("2.5") << QByteArray("9600,n,8,1") << true << QList<int>{};
    }
    void failureShowsMessageAndStillFillsLists()
    {
        QFETCH(QByteArray, port);
        QFETCH(QByteArray, line);
        QFETCH(bool, deviceExists);
        QFETCH(QList<int>, marks);
        Pty pty;
        const QString device = deviceExists ? pty.devicePath() : "/dev/quendra-missing";
        TestIni ini(settingsIni(port, line, "5", device));
        QList<Message> messages;
        auto w = start(messages);

        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].text, QString("COMM PORT ERROR"));
        QVERIFY(!messages[0].detail.isEmpty());
        QVERIFY(!w->port().isOpen());
        QCOMPARE(marked(*w, "mnuCOM", 6), marks);
        QCOMPARE(list(*w, "cboUID")->currentText(), QString("5"));
        verifyListsFilled(*w);
        QCOMPARE(pty.read(100), QByteArray());
    }

    void missingDeviceIsNamedInTheMessage()
    {
        TestIni ini(settingsIni("4", "9600,n,8,1", "1", "/dev/quendra-missing"));
        QList<Message> messages;
        auto w = start(messages);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].detail.startsWith("/dev/quendra-missing:"),
                 qPrintable(messages[0].detail));
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
        Pty pty;
        TestIni ini(settingsIni("1", "9600,n,8,1", uid, pty.devicePath()));
        QList<Message> messages;
        auto w = start(messages);
        QVERIFY(messages.isEmpty());
        for (const char* name : {"cboUID", "cboCuid"}) {
            QCOMPARE(list(*w, name)->currentText(), QString::fromUtf8(uid));
            QCOMPARE(list(*w, name)->currentIndex(), index);
        }
    }

    void noSettingsFileReportsAndComesUp()
    {
        TestIni ini;
        QList<Message> messages;
        auto w = start(messages);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].text, QString("COMM PORT ERROR"));
        QCOMPARE(modVariable::strCommPort, QString());
        QCOMPARE(modVariable::strSettings, QString());
        QCOMPARE(modVariable::strSlaveID, QString());
        verifyListsFilled(*w);
    }

    void typedTextSelectsTheMatchingItem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("index");
        QTest::newRow("byte list, lower case") << "cbolm1"
                                               << "7f" << 0x7F;
        QTest::newRow("byte list, upper case") << "cboSeg3"
                                               << "A0" << 0xA0;
        QTest::newRow("byte list, no match") << "cbosi2"
                                             << "zz" << -1;
        QTest::newRow("byte list, one digit") << "cbolm2"
                                              << "7" << -1;
        QTest::newRow("uid list") << "cboCuid"
                                  << "12" << 12;
        QTest::newRow("uid list, leading zero") << "cboCuid"
                                                << "012" << -1;
        QTest::newRow("dp list") << "cboDP"
                                 << "63" << 63;
        QTest::newRow("dp list, too big") << "cboDP"
                                          << "64" << -1;
    }
    void typedTextSelectsTheMatchingItem()
    {
        QFETCH(QString, name);
        QFETCH(QString, typed);
        QFETCH(int, index);
        Pty pty;
        TestIni ini(settingsIni("1", "9600,n,8,1", "1", pty.devicePath()));
        QList<Message> messages;
        auto w = start(messages);
        auto* box = w->findChild<ListBox*>(name);
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), typed);
        QCOMPARE(box->currentIndex(), index);
        // The operator's text stays as typed.
        QCOMPARE(box->currentText(), typed);
        QCOMPARE(box->count(), name == "cboDP" ? 64 : 256);
    }
};

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
