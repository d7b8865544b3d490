#include "tests/support/Panel.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/Ser2net.h"
#include "tests/support/Watchdog.h"
#include "tools/send/SendRequest.h"

#include <QProcess>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

namespace {

// quendra-send as a script runs it: exit status, and its one line of errors.
int runSend(const QStringList& args, QString* err)
{
    QProcess p;
    p.start(QUENDRA_SEND_PATH, args);
    if (!p.waitForFinished(10000))
        return -1;
    *err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    return p.exitCode();
}

} // namespace

// The panel and quendra-send with their ports behind a real ser2net: COM1 is
// rfc2217:// in front of the panel's first pty, COM2 socket:// in front of
// its second.
class tst_NetworkPanel : public QObject
{
    Q_OBJECT

    std::unique_ptr<Panel> m_panel;
    std::unique_ptr<Ser2net> m_rfc;
    std::unique_ptr<Ser2net> m_socket;

    // The panel started anew, its COM1 and COM2 the servers' ports, with
    // CommPort=com at Setting=settings. Its ptys stay: the servers' devices.
    Panel& panel(int com, const QString& settings = "9600,n,8,1")
    {
        const QByteArray ini = QString("[Settings]\nCommPort=%1\nSetting=%2\nSlaveID=5\n"
                                       "[Ports]\nCOM1=%3\nCOM2=%4\n")
                                   .arg(com)
                                   .arg(settings, m_rfc->portName(), m_socket->portName())
                                   .toUtf8();
        m_panel->ini.write(ini);
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
        QString why;
        QVERIFY2(m_rfc->start(&why), qPrintable(why));
        QVERIFY2(m_socket->start(&why), qPrintable(why));
    }
    void init()
    {
        QString why;
        for (Ser2net* s : {m_rfc.get(), m_socket.get()})
            QVERIFY2(s->isRunning() || s->start(&why), qPrintable(why));
    }

    // The window never asks which kind of line it has: one frame per form,
    // holding IAC (FF) and CR LF, proves the path.
    void buttons_data()
    {
        QTest::addColumn<int>("com");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QByteArray>("frame");
        const QStringList segments{"cboSeg6=FF", "cboSeg5=FF", "cboSeg4=0D", "cboSeg3=00",
                                   "cboSeg2=0D", "cboSeg1=0A", "cmdSEG"};
        QTest::newRow("rfc2217") << 1 << segments << QByteArray::fromHex("0561ffff0d000d0a");
        QTest::newRow("socket") << 2 << segments << QByteArray::fromHex("0561ffff0d000d0a");
    }
    void buttons()
    {
        QFETCH(int, com);
        QFETCH(QStringList, steps);
        QFETCH(QByteArray, frame);
        Panel& p = panel(com);
        QCOMPARE(p.messages, QStringList());
        p.set(steps);
        QCOMPARE(p.line(com).toHex(' '), frame.toHex(' '));
        QCOMPARE(p.messages, QStringList());
    }

    // The start-up rate and each "Baud Rate" choice are set on the device;
    // ser2net on its own would run it at 2400.
    void baudRates()
    {
        Panel& p = panel(1);
        QCOMPARE(p.messages, QStringList());
        QCOMPARE(int(ttySpeed(p.ptys[0].devicePath())), int(B9600));
        const std::tuple<const char*, int, speed_t> rates[] = {
            {"mnuBR_3", 38400, B38400}, {"mnuBR_2", 19200, B19200}, {"mnuBR_1", 9600, B9600}};
        for (const auto& [entry, rate, speed] : rates) {
            p.choose(entry);
            QCOMPARE(p.messages, QStringList());
            QCOMPARE(int(ttySpeed(p.ptys[0].devicePath())), int(speed));
            QCOMPARE(p.window->port().activeSettings()->baudRate, rate);
            p.press("cmdDIM");
            QCOMPARE(p.line(1).toHex(), QByteArray("056e"));
        }
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

    // The server stops mid-session: one message at the next press and one per
    // later press, none on their own; a menu choice reopens once it is back.
    void serverStopped_data()
    {
        QTest::addColumn<int>("com");
        QTest::newRow("rfc2217") << 1;
        QTest::newRow("socket") << 2;
    }
    void serverStopped()
    {
        QFETCH(int, com);
        Ser2net& server = com == 1 ? *m_rfc : *m_socket;
        Panel& p = panel(com);
        p.press("cmdDP");
        QCOMPARE(p.line(com).toHex(' '), QByteArray("05 63 00"));
        server.stop();
        p.press("cmdDIM");
        QCOMPARE(p.messages, QStringList{"Frame not sent: the port failed and was closed"});
        QCOMPARE(p.details,
                 QStringList{
                     QString("127.0.0.1:%1: the server closed the connection").arg(server.port())});
        for (int i = 0; i < 3; ++i)
            p.press("cmdDP");
        QCoreApplication::processEvents();
        QCOMPARE(p.messages.size(), 4);
        QCOMPARE(p.messages.back(), QString("Nothing sent: the port is not open"));
        QString why;
        QVERIFY2(server.start(&why), qPrintable(why));
        p.choose("mnuBR_1");
        QCOMPARE(p.messages.size(), 4);
        p.press("cmdDP");
        QCOMPARE(p.line(com).toHex(' '), QByteArray("05 63 00"));
    }

    // A server that agrees and then takes nothing more: the press that it
    // does not confirm is a failed send, and the port is closed.
    void unconfirmedFrame()
    {
        const Watchdog guard(10000);
        ScriptedServer server("stop-reading");
        m_panel->ini.write(QString("[Settings]\nCommPort=3\nSetting=9600,n,8,1\nSlaveID=5\n"
                                   "[Ports]\nCOM3=%1\n")
                               .arg(server.portName())
                               .toUtf8());
        m_panel->start();
        Panel& p = *m_panel;
        QCOMPARE(p.messages, QStringList());
        p.press("cmdDP");
        QCOMPARE(p.messages,
                 QStringList{"Frame not confirmed: the far end was not seen to take it; the port "
                             "failed and was closed"});
        QVERIFY2(p.details.front().contains("the server did not confirm the frames in "),
                 qPrintable(p.details.front()));
        QVERIFY(!p.window->port().isOpen());
    }

    void send_data()
    {
        QTest::addColumn<QString>("form");
        QTest::newRow("rfc2217") << "rfc2217";
        QTest::newRow("socket") << "socket";
    }
    void send()
    {
        QFETCH(QString, form);
        m_panel->window.reset(); // ser2net serves one client per port
        Ser2net& server = form == "rfc2217" ? *m_rfc : *m_socket;
        Pty& pty = m_panel->ptys[form == "rfc2217" ? 0 : 1];
        QString err;
        QCOMPARE(runSend({"--port", server.portName(), "raw", "FF 0D 00 0D 0A 00"}, &err),
                 int(send::Sent));
        QCOMPARE(err, QString());
        QCOMPARE(pty.read(2000).toHex(' '), QByteArray("ff 0d 00 0d 0a 00"));

        const quint16 none = Ser2net::freePort();
        const QString nowhere = QString("%1://127.0.0.1:%2").arg(form).arg(none);
        QCOMPARE(runSend({"--port", nowhere, "raw", "00"}, &err), int(send::PortFailure));
        QCOMPARE(err, QString("quendra-send: 127.0.0.1:%1: Connection refused").arg(none));
    }

    void sendToUnknownKindOfPort()
    {
        QString err;
        QCOMPARE(runSend({"--port", "telnet://127.0.0.1:23", "raw", "00"}, &err),
                 int(send::PortFailure));
        QCOMPARE(err, QString("quendra-send: telnet://127.0.0.1:23: unknown kind of port "
                              "\"telnet\"; use rfc2217:// or socket://"));
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
