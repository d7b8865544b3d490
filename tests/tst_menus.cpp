#include "settings/modVariable.h"
#include "tests/support/Panel.h"

#include <QMenu>

// The "Comm Port" and "Baud Rate" menus move the line while the panel runs.
class tst_Menus : public QObject
{
    Q_OBJECT

private slots:
    // A port chosen moves the line; a baud rate reopens that port at its rate.
    void portThenBaudRate()
    {
        Panel p;
        p.choose("mnuCOM_3");
        QCOMPARE(p.marks(), QStringList{"mnuCOM_3"});
        QCOMPARE(modVariable::strCommPort, QString("3"));
        p.press("cmdDIM"); // the next frame goes out on COM3 only
        QCOMPARE(p.line(3).toHex(), QByteArray("056e"));
        QCOMPARE(p.ptys[0].read(50), QByteArray()); // nothing left on COM1
        const std::pair<const char*, int> rates[] = {
            {"mnuBR_3", 38400}, {"mnuBR_1", 9600}, {"mnuBR_2", 19200}};
        for (const auto& [entry, baud] : rates) {
            p.choose(entry);
            QCOMPARE(p.marks(), (QStringList{"mnuCOM_3", entry}));
            QCOMPARE(modVariable::strSettings, QString("%1,n,8,1").arg(baud));
            QCOMPARE(p.window->port().activeSettings()->baudRate, baud);
        }
        p.choose("mnuCOM_3"); // the open port again: reopened, mark stays
        QCOMPARE(p.marks(), (QStringList{"mnuCOM_3", "mnuBR_2"}));
        QVERIFY(p.window->port().isOpen());
        QCOMPARE(p.messages, QStringList());
    }

    void entriesInIndexOrder()
    {
        Panel p;
        QStringList captions;
        for (const char* menu : {"mnuCP", "mnuBaud"}) {
            for (const QAction* entry : p.window->findChild<QMenu*>(menu)->actions())
                captions << entry->text();
        }
        QCOMPARE(captions.join(' '),
                 QString("COM1 COM2 COM3 COM4 COM5 COM6 9600bps 19200bps 38400bps"));
    }

    void portThatWillNotOpenIsReported()
    {
        Panel p;
        for (const char* entry : {"mnuCOM_2", "mnuBR_3", "mnuCOM_4"})
            p.choose(entry);
        QCOMPARE(p.messages, QStringList{"Selected Port Not Available"});
        QVERIFY(p.details[0].startsWith(Panel::Missing + QString(":")));
        QVERIFY(!p.window->port().isOpen()); // the old port is not reopened
        QCOMPARE(p.marks(), (QStringList{"mnuCOM_4", "mnuBR_3"}));
        QCOMPARE(modVariable::strCommPort, QString("4"));
        p.choose("mnuBR_2"); // a baud rate now tries that same port
        QCOMPARE(p.messages.size(), 2);
        QCOMPARE(p.window->port().commPort(), qint16(4));
        QCOMPARE(modVariable::strSettings, QString("19200,n,8,1"));

        p.window.reset(); // no menu use writes the settings file
        QFile file(p.ini.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), p.iniFor(Panel::Usual));
    }

    void afterAFailedStartEveryButtonSends()
    {
        Panel p("CommPort=4\nSetting=9600,n,8,1\nSlaveID=5");
        p.choose("mnuCOM_2");
        for (const char* button :
             {"cmdTransmit", "cmdDP", "cmdDecimal", "cmdShort", "cmdSEG", "cmdDIM", "cmdConfig"})
            p.press(button);
        const QByteArray sent = QByteArray::fromHex("0562202020202020 056300 056400000000 05660000 "
                                                    "0561000000000000 056e000000000000 1e1e2405");
        QCOMPARE(p.line(2).toHex(' '), sent.toHex(' '));
        QCOMPARE(p.messages.size(), 1);
    }
};

QTEST_MAIN(tst_Menus)
#include "tst_menus.moc"
