#include "serial/NetworkLine.h"
#include "serial/TelnetReader.h"
#include "tests/support/Pty.h"
#include "tests/support/Ser2net.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>

namespace {

// "data 41 ff, do 3, sb 44 65 00 00 25 80" for comparing events in one line.
QString describe(const std::vector<TelnetReader::Event>& events)
{
    QStringList parts;
    for (const TelnetReader::Event& e : events) {
        switch (e.kind) {
        case TelnetReader::Event::Data:
            parts << "data " + e.bytes.toHex(' ');
            break;
        case TelnetReader::Event::Negotiation: {
            static const char* const verbs[] = {"will", "wont", "do", "dont"};
            parts << QStringLiteral("%1 %2").arg(verbs[e.code - telnet::WILL]).arg(e.option);
            break;
        }
        case TelnetReader::Event::Subnegotiation:
            parts << QStringLiteral("sb %1 %2%3")
                         .arg(e.option)
                         .arg(QString(e.bytes.toHex(' ')), e.truncated ? " cut" : "");
            break;
        case TelnetReader::Event::Command:
            parts << QStringLiteral("cmd %1").arg(e.code);
            break;
        }
    }
    return parts.join(", ");
}

QByteArray bytesOf(std::initializer_list<unsigned char> list)
{
    QByteArray bytes;
    for (const unsigned char b : list)
        bytes.append(char(b));
    return bytes;
}

QByteArray allBytes()
{
    QByteArray frame;
    for (int i = 0; i < 256; ++i)
        frame.append(char(i));
    return frame;
}

// A terminal server played by a thread of the test, for answers ser2net
// never gives. It agrees to what the line asks except where told otherwise:
// "rate 9600" answers every rate with 9600, "binary" and "serial control"
// refuse that option.
class ScriptedServer
{
public:
    explicit ScriptedServer(QString script) : m_script(std::move(script))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), length) != 0 ||
            ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }
    quint16 port() const { return m_port; }

private:
    QByteArray answer(const TelnetReader::Event& e) const
    {
        using namespace telnet;
        const auto reply = [](unsigned char code, unsigned char option) {
            return bytesOf({IAC, code, option});
        };
        if (e.kind == TelnetReader::Event::Negotiation && e.code == WILL)
            return reply((e.option == OptionBinary && m_script == "binary") ||
                                 (e.option == OptionComPort && m_script == "serial control")
                             ? DONT
                             : DO,
                         e.option);
        if (e.kind == TelnetReader::Event::Negotiation && e.code == DO)
            return reply(WILL, e.option);
        if (e.kind != TelnetReader::Event::Subnegotiation || e.bytes.isEmpty())
            return {};
        QByteArray value = e.bytes.mid(1);
        if (e.bytes[0] == char(SetBaudRate) && m_script == "rate 9600")
            value = QByteArray::fromHex("00002580");
        return bytesOf({IAC, SB, OptionComPort, uchar(e.bytes[0] + ServerOffset)}) + escape(value) +
               bytesOf({IAC, SE});
    }

    void serve()
    {
        int client = -1;
        TelnetReader reader;
        while (!m_stop) {
            pollfd p{client < 0 ? m_listen : client, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            if (client < 0) {
                client = ::accept(m_listen, nullptr, nullptr);
                continue;
            }
            char buffer[512];
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            std::vector<TelnetReader::Event> events;
            reader.feed(buffer, n, events);
            for (const TelnetReader::Event& e : events) {
                const QByteArray bytes = answer(e);
                if (!bytes.isEmpty() &&
                    ::write(client, bytes.constData(), size_t(bytes.size())) < 0)
                    break;
            }
        }
        if (client >= 0)
            ::close(client);
    }

    QString m_script;
    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

// The network line against a real ser2net in front of pseudo-terminals, and
// against servers that misbehave.
class tst_Network : public QObject
{
    Q_OBJECT

    Pty m_rfcPty;
    Pty m_socketPty;
    std::unique_ptr<Ser2net> m_rfc;
    std::unique_ptr<Ser2net> m_socket;

    Ser2net& server(const QString& form) { return form == "rfc2217" ? *m_rfc : *m_socket; }
    Pty& pty(const QString& form) { return form == "rfc2217" ? m_rfcPty : m_socketPty; }

private slots:
    // A row that failed half-way may have left a server stopped.
    void init()
    {
        QString why;
        for (Ser2net* s : {m_rfc.get(), m_socket.get()})
            QVERIFY2(!s || s->isRunning() || s->start(&why), qPrintable(why));
    }

    void initTestCase()
    {
        QVERIFY2(Ser2net::installed(), "ser2net is not installed (scripts/install-deps.sh)");
        QVERIFY(m_rfcPty.isValid() && m_socketPty.isValid());
        m_rfc = std::make_unique<Ser2net>(m_rfcPty.devicePath(), Ser2net::Form::Rfc2217);
        m_socket = std::make_unique<Ser2net>(m_socketPty.devicePath(), Ser2net::Form::Socket);
        QString why;
        QVERIFY2(m_rfc->start(&why), qPrintable(why));
        QVERIFY2(m_socket->start(&why), qPrintable(why));
    }

    void portNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // "KIND HOST:PORT", or "!" and part of the reason
        const QList<QPair<const char*, const char*>> rows{
            {"rfc2217://10.0.0.7:4001", "rfc2217 10.0.0.7:4001"},
            {"RFC2217://terminal-3.lab:1", "rfc2217 terminal-3.lab:1"},
            {"socket://[::1]:65535", "socket [::1]:65535"},
            {"rfc2217://10.0.0.7", "!no port number"},
            {"rfc2217://10.0.0.7:0", "!\"0\" is not 1 to 65535"},
            {"socket://10.0.0.7:65536", "!\"65536\" is not 1 to 65535"},
            {"socket://10.0.0.7:+40", "!\"+40\" is not 1 to 65535"},
            {"rfc2217://:4001", "!no host"},
            {"rfc2217://user@host:4001", "!not a host name"},
            {"rfc2217://host:4001/x", "!\"4001/x\" is not 1 to 65535"},
            {"socket://[10.0.0.7]:4001", "!not an IPv6 address"},
            {"telnet://10.0.0.7:4001", "!unknown kind of port \"telnet\""},
        };
        for (const auto& [name, expected] : rows)
            QTest::newRow(name) << QString(name) << QString(expected);
    }
    void portNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QVERIFY(isNetworkPortName(name));
        const std::optional<NetworkAddress> a = parseNetworkPortName(name);
        const QString problem = networkPortNameProblem(name);
        if (expected.startsWith('!')) {
            QVERIFY(!a);
            QVERIFY2(problem.startsWith(name + ": ") && problem.contains(expected.mid(1)),
                     qPrintable(problem));
        } else {
            QVERIFY2(a, qPrintable(problem));
            QCOMPARE(QString(a->kind == NetworkAddress::Kind::Rfc2217 ? "rfc2217 " : "socket ") +
                         a->display(),
                     expected);
            QVERIFY(problem.isEmpty());
        }
    }

    // What the server sends, cut into pieces anywhere.
    void reader_data()
    {
        QTest::addColumn<QString>("pieces"); // hex, "|" between pieces fed one by one
        QTest::addColumn<QString>("events");
        QTest::newRow("data, IAC IAC is one 0xff") << "41 ff ff 0d 00"
                                                   << "data 41 ff 0d 00";
        QTest::newRow("ser2net's greeting") << "fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c"
                                            << "will 3, do 3, will 1, dont 1, do 0, will 0, do 44";
        QTest::newRow("rate answer cut everywhere") << "ff|fa|2c|65|00 00|25|80|ff|f0"
                                                    << "sb 44 65 00 00 25 80";
        QTest::newRow("IAC doubled inside an answer") << "fffa2c 65 3b9ac9ffff fff0 41"
                                                      << "sb 44 65 3b 9a c9 ff, data 41";
        QTest::newRow("command ends an open subnegotiation") << "fffa2c 6b 00 fffb 03"
                                                             << "sb 44 6b 00, will 3";
        QTest::newRow("plain commands between data") << "41 fff1 42"
                                                     << "data 41, cmd 241, data 42";
        QTest::newRow("overlong subnegotiation is cut")
            << "fffa2c " + QString("61").repeated(70) + " fff0"
            << "sb 44 " + QString("61 ").repeated(TelnetReader::MaxSubnegotiation).trimmed() +
                   " cut";
    }
    void reader()
    {
        QFETCH(QString, pieces);
        QFETCH(QString, events);
        TelnetReader reader;
        std::vector<TelnetReader::Event> got;
        for (const QString& piece : pieces.split('|'))
            reader.feed(QByteArray::fromHex(piece.toLatin1()), got);
        // Data split over pieces arrives as one event per piece.
        for (std::size_t i = 1; i < got.size(); ++i) {
            if (got[i].kind == TelnetReader::Event::Data &&
                got[i - 1].kind == TelnetReader::Event::Data) {
                got[i - 1].bytes += got[i].bytes;
                got.erase(got.begin() + qsizetype(i--));
            }
        }
        QCOMPARE(describe(got), events);
    }

    // Bytes a terminal would translate (CR NUL, CR LF, IAC) arrive as they are.
    void frames_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QByteArray>("frame");
        for (const char* form : {"rfc2217", "socket"}) {
            for (const char* hex : {"ff", "0d00", "0d0a", "00", "ffff0d", "0162ff0d000d0a00"})
                QTest::addRow("%s %s", form, hex) << QString(form) << QByteArray::fromHex(hex);
            QTest::addRow("%s 00..ff", form) << QString(form) << allBytes();
        }
    }
    void frames()
    {
        QFETCH(QString, form);
        QFETCH(QByteArray, frame);
        NetworkLine line(*parseNetworkPortName(server(form).portName()));
        QString error;
        QVERIFY2(line.open(moduleLineSettings(9600), &error), qPrintable(error));
        const WriteResult r = line.write(frame);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.sent, frame.size());
        QCOMPARE(pty(form).read(2000).toHex(' '), frame.toHex(' '));
        line.close();
        QVERIFY(!line.isOpen());
    }

    // A frame sent right after connecting, then closed at once, as
    // quendra-send does, must still reach the device: ser2net drops what it
    // has not written yet when the client leaves. The far end reads each
    // frame as it comes, as a module does.
    void shortConnections_data()
    {
        QTest::addColumn<QString>("form");
        QTest::newRow("rfc2217") << "rfc2217";
        QTest::newRow("socket") << "socket";
    }
    void shortConnections()
    {
        QFETCH(QString, form);
        QStringList lost;
        // A few in a hundred were lost before the line made sure.
        for (int i = 0; i < 40; ++i) {
            NetworkLine line(*parseNetworkPortName(server(form).portName()));
            QString error;
            QVERIFY2(line.open(moduleLineSettings(9600), &error), qPrintable(error));
            const QByteArray frame = QByteArray::fromHex("ff0d00") + char(i);
            QVERIFY(line.write(frame).ok());
            line.close();
            const QByteArray got = pty(form).read(1000, 5);
            if (got != frame)
                lost << QString("%1: %2").arg(i).arg(QString(got.toHex(' ')));
        }
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join("; ")));
    }

    // Each open sets the device's speed through rfc2217://; socket:// leaves
    // the server's own (2400).
    void rates_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("speed");
        QTest::newRow("rfc2217 9600") << "rfc2217" << 9600 << int(B9600);
        QTest::newRow("rfc2217 19200") << "rfc2217" << 19200 << int(B19200);
        QTest::newRow("rfc2217 38400") << "rfc2217" << 38400 << int(B38400);
        QTest::newRow("socket 19200") << "socket" << 19200 << int(B2400);
    }
    void rates()
    {
        QFETCH(QString, form);
        QFETCH(int, rate);
        QFETCH(int, speed);
        NetworkLine line(*parseNetworkPortName(server(form).portName()));
        // Twice: a reopen, as the baud menu does, sets the rate again.
        for (int round = 0; round < 2; ++round) {
            line.close();
            QString error;
            QVERIFY2(line.open(moduleLineSettings(rate), &error), qPrintable(error));
            // An rfc2217:// open returns once the server has set the device;
            // a socket:// one as soon as it connects, before ser2net opened it.
            if (form == "rfc2217") {
                QCOMPARE(int(ttySpeed(pty(form).devicePath())), speed);
                QCOMPARE(line.activeSettings(), std::optional(moduleLineSettings(rate)));
            } else {
                QTRY_COMPARE(int(ttySpeed(pty(form).devicePath())), speed);
                QVERIFY(!line.activeSettings());
            }
        }
    }

    // ser2net takes every rate a pseudo-terminal does (any, through custom
    // speeds) but stays silent on 1.5 stop bits, which Linux has not.
    void refusedSetting()
    {
        NetworkLine line(*parseNetworkPortName(m_rfc->portName()));
        QString error;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!line.open(*parseLineSettings("9600,n,8,1.5"), &error));
        QVERIFY(clock.elapsed() < 3500);
        QCOMPARE(error, QString("127.0.0.1:%1: the server did not take stop bits 1.5; no answer "
                                "in 3 s")
                            .arg(m_rfc->port()));
        QVERIFY(!line.isOpen());
        QVERIFY2(line.open(moduleLineSettings(9600), &error), qPrintable(error));
    }

    // Answers only a scripted server gives: each refusal fails the open
    // naming what was refused.
    void serverAnswers_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("error"); // empty: opens
        QTest::newRow("agrees") << "" << 19200 << "";
        QTest::newRow("rate as asked") << "rate 9600" << 9600 << "";
        QTest::newRow("other rate")
            << "rate 9600" << 19200 << "the server refused rate 19200 (it answered 9600)";
        QTest::newRow("binary refused") << "binary" << 9600 << "the server refused binary mode";
        QTest::newRow("serial control refused")
            << "serial control" << 9600 << "the server refused serial-port control (RFC 2217)";
    }
    void serverAnswers()
    {
        QFETCH(QString, script);
        QFETCH(int, rate);
        QFETCH(QString, error);
        ScriptedServer server(script);
        QVERIFY(server.port() != 0);
        NetworkLine line(
            *parseNetworkPortName(QString("rfc2217://127.0.0.1:%1").arg(server.port())));
        QString got;
        QCOMPARE(line.open(moduleLineSettings(rate), &got), error.isEmpty());
        if (error.isEmpty()) {
            QCOMPARE(line.activeSettings(), std::optional(moduleLineSettings(rate)));
        } else {
            QCOMPARE(got, QString("127.0.0.1:%1: ").arg(server.port()) + error);
            QVERIFY(!line.isOpen());
        }
    }

    // ser2net serves one client per port and says so before it hangs up.
    void portInUse()
    {
        NetworkLine first(*parseNetworkPortName(m_rfc->portName()));
        NetworkLine second(*parseNetworkPortName(m_rfc->portName()));
        QString error;
        QVERIFY2(first.open(moduleLineSettings(9600), &error), qPrintable(error));
        QVERIFY(!second.open(moduleLineSettings(9600), &error));
        QCOMPARE(error, QString("127.0.0.1:%1: the server closed the connection: Port already in "
                                "use")
                            .arg(m_rfc->port()));
        first.close();
        QVERIFY2(second.open(moduleLineSettings(9600), &error), qPrintable(error));
    }

    // A server that takes the connection and never answers.
    void silentServer()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        NetworkLine line(
            *parseNetworkPortName(QString("rfc2217://127.0.0.1:%1").arg(silent.serverPort())));
        QString error;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!line.open(moduleLineSettings(9600), &error));
        QVERIFY2(clock.elapsed() >= 2900 && clock.elapsed() < 3500,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(error, QString("127.0.0.1:%1: no answer in 3 s").arg(silent.serverPort()));
    }

    // The server goes away mid-session; the line says so once, and opens
    // again once the server is back.
    void serverStopped_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("eventLoop"); // whether the owner runs one before the next write
        for (const char* form : {"rfc2217", "socket"}) {
            QTest::addRow("%s, next write", form) << QString(form) << false;
            QTest::addRow("%s, between writes", form) << QString(form) << true;
        }
    }
    void serverStopped()
    {
        QFETCH(QString, form);
        QFETCH(bool, eventLoop);
        Ser2net& s = server(form);
        const QString where = QString("127.0.0.1:%1: ").arg(s.port());
        NetworkLine line(*parseNetworkPortName(s.portName()));
        QSignalSpy failed(&line, &Line::failed);
        QString error;
        QVERIFY2(line.open(moduleLineSettings(9600), &error), qPrintable(error));
        QVERIFY(line.write("\x01\x66").ok());
        QCOMPARE(pty(form).read().size(), 2);

        s.stop();
        if (eventLoop) {
            QTRY_COMPARE(failed.count(), 1);
            QCOMPARE(failed.at(0).at(0).toString(), where + "the server closed the connection");
            QVERIFY(!line.isOpen());
        }
        const WriteResult r = line.write("\x01\x67");
        QVERIFY(!r.ok());
        QCOMPARE(r.sent, 0);
        QCOMPARE(r.error,
                 where + (eventLoop ? "the port is not open" : "the server closed the connection"));
        QVERIFY(!line.isOpen());
        QVERIFY(!line.write("\x01\x68").ok());
        QCoreApplication::processEvents();
        QCOMPARE(failed.count(), eventLoop ? 1 : 0);

        QVERIFY2(s.start(&error), qPrintable(error));
        QVERIFY2(line.open(moduleLineSettings(9600), &error), qPrintable(error));
        QVERIFY(line.write("\xff\x0d").ok());
        QCOMPARE(pty(form).read().toHex(), QByteArray("ff0d"));
    }

    void cleanupTestCase()
    {
        m_rfc.reset();
        m_socket.reset();
    }
};

QTEST_GUILESS_MAIN(tst_Network)
#include "tst_network.moc"
