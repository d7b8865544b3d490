#include "Pty.h"
#include "TestIni.h"
#include "frmMain.h"
#include "modVariable.h"

#include <QAction>
#include <QPushButton>
#include <QtTest>

namespace {

struct Message
{
    QString text;
    QString detail;
};

// COM1..COM3 on pseudo-terminals of the test's own; COM4 names no device.
QByteArray portsIni(const QByteArray& port, Pty ptys[3])
{
    QByteArray ini = "[Settings]\nCommPort=" + port + "\nSetting=9600,n,8,1\nSlaveID=5\n[Ports]\n";
    for (int i = 0; i < 3; ++i)
        ini += "COM" + QByteArray::number(i + 1) + "=" + ptys[i].devicePath().toUtf8() + "\n";
    return ini + "COM4=/dev/quendra-missing\n";
}

} // namespace

// The "Comm Port" and "Baud Rate" menus move the line while the panel runs.
class tst_Menus : public QObject
{
    Q_OBJECT

private:
    Pty m_ptys[3];
    QList<Message> m_messages;

    std::unique_ptr<frmMain> start()
    {
        m_messages.clear();
        return std::make_unique<frmMain>([this](const QString& text, const QString& detail) {
            m_messages.append({text, detail});
        });
    }

    static void choose(frmMain& w, const char* menu, int index)
    {
        auto* entry = w.findChild<QAction*>(QStringLiteral("%1_%2").arg(menu).arg(index));
        QVERIFY(entry);
        entry->trigger();
    }

    static QList<int> marked(frmMain& w, const char* menu, int count)
    {
        QList<int> marks;
        for (int i = 1; i <= count; ++i) {
            if (w.findChild<QAction*>(QStringLiteral("%1_%2").arg(menu).arg(i))->isChecked())
                marks.append(i);
        }
        return marks;
    }

    // Which of the three pseudo-terminals a frame written now arrives on.
    QList<int> whereFramesArrive(frmMain& w)
    {
        const QByteArray frame = QByteArray::fromHex("056e");
        if (!w.port().write(frame))
            return {};
        QList<int> arrived;
        for (int i = 0; i < 3; ++i) {
            if (m_ptys[i].read(i == w.port().commPort() - 1 ? 1000 : 50) == frame)
                arrived.append(i + 1);
        }
        return arrived;
    }

private slots:
    void choosingAnotherPortMovesTheLine_data()
    {
        QTest::addColumn<int>("chosen");
        QTest::newRow("COM2") << 2;
        QTest::newRow("COM3") << 3;
        QTest::newRow("the open port again") << 1;
    }
    void choosingAnotherPortMovesTheLine()
    {
        QFETCH(int, chosen);
        TestIni ini(portsIni("1", m_ptys));
        auto w = start();
        QCOMPARE(whereFramesArrive(*w), QList<int>{1});

        choose(*w, "mnuCOM", chosen);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(w->port().isOpen());
        QCOMPARE(marked(*w, "mnuCOM", 6), QList<int>{chosen});
        QCOMPARE(modVariable::strCommPort, QString::number(chosen));
        QCOMPARE(whereFramesArrive(*w), QList<int>{chosen});
    }

    void portThatWillNotOpenIsReported()
    {
        TestIni ini(portsIni("1", m_ptys));
        auto w = start();
        choose(*w, "mnuCOM", 4);

        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].text, QString("Selected Port Not Available"));
        QVERIFY(m_messages[0].detail.startsWith("/dev/quendra-missing:"));
        QVERIFY(!w->port().isOpen());
        QCOMPARE(marked(*w, "mnuCOM", 6), QList<int>{4});
        QCOMPARE(modVariable::strCommPort, QString("4"));
        // The port that was open before is not reopened.
        QCOMPARE(whereFramesArrive(*w), QList<int>{});

        // A baud rate chosen now tries the port that failed, with the new rate.
        choose(*w, "mnuBR", 2);
        QCOMPARE(m_messages.size(), 2);
        QCOMPARE(m_messages[1].text, QString("Selected Port Not Available"));
        QCOMPARE(modVariable::strSettings, QString("19200,n,8,1"));
        QCOMPARE(marked(*w, "mnuBR", 3), QList<int>{2});
        QCOMPARE(w->port().commPort(), qint16(4));
    }

    void baudRateReopensTheSamePort_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("baud");
        QTest::newRow("9600bps") << 1 << "9600,n,8,1" << 9600;
        QTest::newRow("19200bps") << 2 << "19200,n,8,1" << 19200;
        QTest::newRow("38400bps") << 3 << "38400,n,8,1" << 38400;
    }
    void baudRateReopensTheSamePort()
    {
        QFETCH(int, entry);
        QFETCH(QString, settings);
        QFETCH(int, baud);
        TestIni ini(portsIni("3", m_ptys));
        auto w = start();
        QCOMPARE(marked(*w, "mnuBR", 3), QList<int>{});

        choose(*w, "mnuBR", entry);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(modVariable::strSettings, settings);
        QCOMPARE(marked(*w, "mnuBR", 3), QList<int>{entry});
        QCOMPARE(marked(*w, "mnuCOM", 6), QList<int>{3});
        QCOMPARE(w->port().activeSettings()->baudRate, baud);
        QCOMPARE(whereFramesArrive(*w), QList<int>{3});
    }

    void baudRateOpensAPortLeftClosed()
    {
        TestIni ini(portsIni("4", m_ptys));
        auto w = start();
        QCOMPARE(m_messages.size(), 1);
        choose(*w, "mnuCOM", 2);
        QCOMPARE(m_messages.size(), 1);
        w->port().close();
        choose(*w, "mnuBR", 3);
        QVERIFY(w->port().isOpen());
        QCOMPARE(whereFramesArrive(*w), QList<int>{2});
    }

    void afterAFailedStartEveryButtonSends_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("text") << "cmdTransmit" << QByteArray::fromHex("0562202020202020");
        QTest::newRow("decimal points") << "cmdDP" << QByteArray::fromHex("056300");
        QTest::newRow("long") << "cmdDecimal" << QByteArray::fromHex("056400000000");
        QTest::newRow("short") << "cmdShort" << QByteArray::fromHex("05660000");
        QTest::newRow("segments") << "cmdSEG" << QByteArray::fromHex("0561000000000000");
        QTest::newRow("brightness") << "cmdDIM" << QByteArray::fromHex("056e");
        QTest::newRow("configure") << "cmdConfig" << QByteArray::fromHex("1e1e2405");
    }
    void afterAFailedStartEveryButtonSends()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, frame);
        TestIni ini(portsIni("4", m_ptys));
        auto w = start();
        QCOMPARE(m_messages.size(), 1);
        choose(*w, "mnuCOM", 2);
        w->findChild<QPushButton*>(button)->click();
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_ptys[1].read().toHex(' '), frame.toHex(' '));
    }

    void menusNeverWriteTheSettingsFile()
    {
        TestIni ini(portsIni("1", m_ptys));
        QFile file(ini.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        {
            auto w = start();
            choose(*w, "mnuCOM", 2);
            choose(*w, "mnuBR", 3);
            choose(*w, "mnuCOM", 4);
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
};

QTEST_MAIN(tst_Menus)
#include "tst_menus.moc"
