#include "Panel.h"
#include "modVariable.h"

// The "Comm Port" and "Baud Rate" menus move the line while the panel runs.
class tst_Menus : public QObject
{
    Q_OBJECT

    // Which of COM1..COM3 a frame written now arrives on.
    static QList<int> whereFramesArrive(Panel& p)
    {
        const QByteArray frame = QByteArray::fromHex("056e");
        if (!p.window->port().write(frame))
            return {};
        QList<int> arrived;
        for (int i = 0; i < 3; ++i) {
            if (p.ptys[i].read(i == p.window->port().commPort() - 1 ? 1000 : 50) == frame)
                arrived.append(i + 1);
        }
        return arrived;
    }

private slots:
    void entriesInIndexOrder()
    {
        Panel p;
        QStringList captions;
        for (QAction* menu : p.window->menuBar()->actions()) {
            captions.append(menu->text() + ":");
            for (QAction* entry : menu->menu()->actions()) {
                QVERIFY(!entry->isSeparator() && entry->isEnabled() && entry->shortcut().isEmpty());
                captions.append(entry->objectName() + "=" + entry->text());
            }
        }
        QCOMPARE(captions.join(' '), QString("Comm Port: mnuCOM_1=COM1 mnuCOM_2=COM2 mnuCOM_3=COM3 "
                                             "mnuCOM_4=COM4 mnuCOM_5=COM5 mnuCOM_6=COM6 Baud Rate: "
                                             "mnuBR_1=9600bps mnuBR_2=19200bps mnuBR_3=38400bps"));
    }

    void choosingAPortMovesTheLine_data()
    {
        QTest::addColumn<int>("chosen");
        QTest::newRow("COM2") << 2;
        QTest::newRow("COM3") << 3;
        QTest::newRow("the open port again") << 1;
    }
    void choosingAPortMovesTheLine()
    {
        QFETCH(int, chosen);
        Panel p;
        QCOMPARE(whereFramesArrive(p), QList<int>{1});
        p.choose(QString("mnuCOM_%1").arg(chosen));
        QCOMPARE(p.messages, QStringList());
        QCOMPARE(p.marks(), QStringList{QString("mnuCOM_%1").arg(chosen)});
        QCOMPARE(modVariable::strCommPort, QString::number(chosen));
        QCOMPARE(whereFramesArrive(p), QList<int>{chosen});
    }

    void portThatWillNotOpenIsReported()
    {
        Panel p;
        for (const char* entry : {"mnuCOM_2", "mnuBR_3", "mnuCOM_4"})
            p.choose(entry);
        QCOMPARE(p.messages, QStringList{"Selected Port Not Available"});
        QVERIFY(p.details[0].startsWith(Panel::Missing + QString(":")));
        QVERIFY(!p.window->port().isOpen());
        QCOMPARE(p.marks(), (QStringList{"mnuCOM_4", "mnuBR_3"}));
        QCOMPARE(modVariable::strCommPort, QString("4"));
        QCOMPARE(whereFramesArrive(p), QList<int>{}); // the old port is not reopened

        // A baud rate chosen now tries the port that failed, with the new rate.
        p.choose("mnuBR_2");
        QCOMPARE(p.messages.size(), 2);
        QCOMPARE(p.messages[1], QString("Selected Port Not Available"));
        QCOMPARE(modVariable::strSettings, QString("19200,n,8,1"));
        QCOMPARE(p.marks(), (QStringList{"mnuCOM_4", "mnuBR_2"}));
        QCOMPARE(p.window->port().commPort(), qint16(4));

        // No menu use writes the settings file.
        p.window.reset();
        QFile file(p.ini.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), p.iniFor(Panel::Usual));
    }

    void baudRateReopensTheSamePort_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("baud");
        QTest::newRow("9600bps") << 1 << 9600;
        QTest::newRow("19200bps") << 2 << 19200;
        QTest::newRow("38400bps") << 3 << 38400;
    }
    void baudRateReopensTheSamePort()
    {
        QFETCH(int, entry);
        QFETCH(int, baud);
        Panel p("CommPort=3\nSetting=9600,n,8,1\nSlaveID=5");
        QCOMPARE(p.marks(), QStringList{"mnuCOM_3"});
        p.choose(QString("mnuBR_%1").arg(entry));
        QCOMPARE(p.messages, QStringList());
        QCOMPARE(modVariable::strSettings, QString("%1,n,8,1").arg(baud));
        QCOMPARE(p.marks(), (QStringList{"mnuCOM_3", QString("mnuBR_%1").arg(entry)}));
        QCOMPARE(p.window->port().activeSettings()->baudRate, baud);
        QCOMPARE(whereFramesArrive(p), QList<int>{3});
    }

    void afterAFailedStartEveryButtonSends()
    {
        Panel p("CommPort=4\nSetting=9600,n,8,1\nSlaveID=5");
        QCOMPARE(p.messages.size(), 1);
        p.choose("mnuCOM_2");
        const char* const presses[][2] = {{"cmdTransmit", "0562202020202020"},
                                          {"cmdDP", "056300"},
                                          {"cmdDecimal", "056400000000"},
                                          {"cmdShort", "05660000"},
                                          {"cmdSEG", "0561000000000000"},
                                          {"cmdDIM", "056e000000000000"},
                                          {"cmdConfig", "1e1e2405"}};
        for (const auto& [button, hex] : presses) {
            p.press(button);
            QCOMPARE(p.line(2).toHex(' '), QByteArray::fromHex(hex).toHex(' '));
        }
        QCOMPARE(p.messages.size(), 1);
    }
};

QTEST_MAIN(tst_Menus)
#include "tst_menus.moc"
