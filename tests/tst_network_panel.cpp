#include "tests/support/Panel.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/Ser2net.h"
#include "tests/support/Watchdog.h"

#include <memory>

// The panel with its ports behind a real ser2net: COM1 is rfc2217:// in front
// of the panel's first pty, COM2 socket:// in front of its second. The window
// never asks which kind of line it has, so one row per form proves the path;
// the lines themselves are tst_network's.
class tst_NetworkPanel : public QObject
{
    Q_OBJECT

    std::unique_ptr<Panel> m_panel;
    std::unique_ptr<Ser2net> m_rfc;
    std::unique_ptr<Ser2net> m_socket;

    // The panel started anew at CommPort=com, its COM1 and COM2 the servers'
    // ports and COM3 com3. Its ptys stay: the servers' devices.
    Panel& panel(int com, const QString& com3 = {})
    {
        m_panel->ini.write(QString("[Settings]\nCommPort=%1\nSetting=9600,n,8,1\nSlaveID=5\n"
                                   "[Ports]\nCOM1=%2\nCOM2=%3\nCOM3=%4\n")
                               .arg(com)
                               .arg(m_rfc->portName(), m_socket->portName(), com3)
                               .toUtf8());
        m_panel->start();
        return *m_panel;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(Ser2net::installed(), "ser2net is not installed (scripts/install-deps.sh)");
        m_panel = std::make_unique<Panel>(QByteArray{});
        m_rfc = std::make_unique<Ser2net>(m_panel->ptys[0].devicePath(), Ser2net::Form::Rfc2217);
        m_socket = std::make_unique<Ser2net>(m_panel->ptys[1].devicePath(), Ser2net::Form::Socket);
    }
    // Started before each row: a row may have left one stopped.
    void init()
    {
        QString why;
        for (Ser2net* s : {m_rfc.get(), m_socket.get()})
            QVERIFY2(s->isRunning() || s->start(&why), qPrintable(why));
    }

    // One frame per form, holding IAC (FF) and CR LF.
    void buttons_data()
    {
        QTest::addColumn<int>("com");
        QTest::newRow("rfc2217") << 1;
        QTest::newRow("socket") << 2;
    }
    void buttons()
    {
        QFETCH(int, com);
        Panel& p = panel(com);
        QCOMPARE(p.messages, QStringList());
        p.set({"cboSeg6=FF", "cboSeg5=FF", "cboSeg4=0D", "cboSeg3=00", "cboSeg2=0D", "cboSeg1=0A",
               "cmdSEG"});
        QCOMPARE(p.line(com).toHex(' '), QByteArray("05 61 ff ff 0d 00 0d 0a"));
        QCOMPARE(p.messages, QStringList());
    }

    // No server at start-up: the panel comes up and says why; a menu choice
    // once the server runs opens the port.
    void noServerAtStart()
    {
        m_rfc->stop();
        Panel& p = panel(1);
        QVERIFY(p.showActive());
        QCOMPARE(p.messages, QStringList{"COMM PORT ERROR"});
        QCOMPARE(p.details,
                 QStringList{QString("127.0.0.1:%1: Connection refused").arg(m_rfc->port())});
        QString why;
        QVERIFY2(m_rfc->start(&why), qPrintable(why));
        p.choose("mnuBR_2");
        QCOMPARE(p.messages.size(), 1);
        QVERIFY(p.window->port().isOpen());
        p.press("cmdDP");
        QCOMPARE(p.line(1).toHex(' '), QByteArray("05 63 00"));
    }

    // A server that agrees and then takes nothing more: the press that it
    // does not confirm is a failed send, and the port is closed.
    void unconfirmedFrame()
    {
        const Watchdog guard(10000);
        ScriptedServer server("stop-reading");
        Panel& p = panel(3, server.portName());
        QCOMPARE(p.messages, QStringList());
        p.press("cmdDP");
        QCOMPARE(p.messages,
                 QStringList{"Frame not confirmed: the far end was not seen to take it; the port "
                             "failed and was closed"});
        QVERIFY2(p.details.front().contains("the server did not confirm the frames in "),
                 qPrintable(p.details.front()));
        QVERIFY(!p.window->port().isOpen());
    }

    void cleanupTestCase()
    {
        m_panel.reset();
        m_rfc.reset();
        m_socket.reset();
    }
};

QTEST_MAIN(tst_NetworkPanel)
#include "tst_network_panel.moc"
