// The limits of quendra-bridge's page server, from C++ clients against the
// program: message size, pages and connections at once, a request far too
// big, and a page that stops reading while the line and the broker go on.
#include "tests/support/ApiClient.h"
#include "tests/support/Watchdog.h"

#include <QTcpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace webapi;

class TestWebLimits : public QObject
{
    Q_OBJECT

    QString m_why;
    Fixture m_web;
    std::unique_ptr<Watchdog> m_watchdog;

private slots:
    void initTestCase()
    {
        if (!Broker::installed())
            QSKIP("mosquitto is not installed (scripts/install-deps.sh installs it)");
        QVERIFY2(m_web.start("weblimits", &m_why), qPrintable(m_why));
    }
    void init() { m_watchdog = std::make_unique<Watchdog>(120000); }
    void cleanup() { m_watchdog.reset(); }

    // Qt's server would keep a whole body before the request is looked at:
    // the connection is closed once more than a page ever sends waits.
    void hugeRequest()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_web.port());
        QVERIFY(socket.waitForConnected(WaitMs));
        [[maybe_unused]] const qint64 before = procStatusKb(m_web.bridge->processId(), "VmHWM");
        socket.write("POST / HTTP/1.1\r\nHost: " + m_web.bridge->authority().toUtf8() +
                     "\r\nContent-Length: 100000000\r\n\r\n");
        const QByteArray chunk(1 << 16, 'x');
        for (int i = 0; i < 1500 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
            socket.write(chunk);
            socket.waitForBytesWritten(100);
        }
        QVERIFY(socket.state() != QAbstractSocket::ConnectedState ||
                socket.waitForDisconnected(WaitMs));
        QVERIFY2(m_web.bridge->says("a request over 64 KiB", WaitMs),
                 m_web.bridge->output().right(500).constData());
#ifndef __SANITIZE_ADDRESS__
        const qint64 after = procStatusKb(m_web.bridge->processId(), "VmHWM");
        QVERIFY2(after - before < qint64(8) * 1024,
                 qPrintable(QStringLiteral("%1 kB more").arg(after - before)));
#endif
        // Serving as before.
        ApiClient page(m_web.api(), m_web.pageOrigin(), bearer());
        QVERIFY(page.opens());
    }

    void tooManyConnections()
    {
        std::vector<std::unique_ptr<QTcpSocket>> held;
        const quint16 port = m_web.port();
        for (int i = 0; i < 65; ++i) {
            held.push_back(std::make_unique<QTcpSocket>());
            held.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(held.back()->waitForConnected(WaitMs));
        }
        // The one past 64 is let go at once, those before it are kept.
        QVERIFY(held.back()->waitForDisconnected(WaitMs));
        QVERIFY(m_web.bridge->says("refused: 64 are open", WaitMs));
        QCOMPARE(held.front()->state(), QAbstractSocket::ConnectedState);
        // Once the bridge has seen them go, a page gets in again: a client
        // turned away while it still counts them tries anew.
        held.clear();
        QVERIFY(QTest::qWaitFor(
            [&] {
                ApiClient page(m_web.api(), m_web.pageOrigin(), bearer());
                return page.opens();
            },
            WaitMs));
    }

    void tooBig()
    {
        ApiClient page(m_web.api(), m_web.pageOrigin(), bearer());
        QVERIFY(page.opens());
        page.hello();
        QVERIFY(page.waitFor("bridge/info"));
        page.send("desk/5/text/set", QString(5000, 'X'));
        QVERIFY(page.closes());
        QCOMPARE(page.closeCode(), int(QWebSocketProtocol::CloseCodeTooMuchData));
        QCOMPARE(m_web.desk.read(300).toHex(' '), QByteArray());
    }

    void tooManyPages()
    {
        std::vector<std::unique_ptr<ApiClient>> pages;
        for (int i = 0; i < 16; ++i) {
            pages.push_back(std::make_unique<ApiClient>(m_web.api(), m_web.pageOrigin(), bearer()));
            QVERIFY(pages.back()->opens());
        }
        ApiClient extra(m_web.api(), m_web.pageOrigin(), bearer());
        QVERIFY(extra.opens());
        QVERIFY(extra.closes());
        QCOMPARE(extra.closeCode(), 4429);
        QVERIFY2(extra.closeReason().contains("16"), qPrintable(extra.closeReason()));
        // One gone makes room.
        pages.pop_back();
        ApiClient again(m_web.api(), m_web.pageOrigin(), bearer());
        QVERIFY(again.opens());
        again.hello();
        QVERIFY(again.waitFor("bridge/info"));
    }

    // A page that stops reading is dropped once its queue is full; the line,
    // the broker and the other pages go on meanwhile.
    void stopsReading()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_web.port());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        const QByteArray hello = R"({"topic":"bridge/hello"})";
        QByteArray request = "GET /api HTTP/1.1\r\nHost: " + m_web.bridge->authority().toUtf8() +
                             "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                             "Sec-WebSocket-Version: 13\r\nAuthorization: " +
                             bearer() + "\r\n\r\n";
        QCOMPARE(::write(fd, request.constData(), size_t(request.size())), ssize_t(request.size()));
        // The answer to the handshake, then never a byte more is read.
        QByteArray answer(4096, '\0');
        const ssize_t got = ::read(fd, answer.data(), size_t(answer.size()));
        QVERIFY2(got > 0 && answer.startsWith("HTTP/1.1 101"), answer.constData());
        // The hello as a client's masked text frame (a zero mask).
        const QByteArray frame =
            QByteArray::fromHex("81") + char(0x80 | hello.size()) + QByteArray(4, '\0') + hello;
        QCOMPARE(::write(fd, frame.constData(), size_t(frame.size())), ssize_t(frame.size()));

        ApiClient reader(m_web.api(), m_web.pageOrigin(), bearer());
        QVERIFY(reader.opens());
        reader.hello();
        QVERIFY(reader.waitFor("bridge/info"));
        // Refusals, each one a message for every page, a thousand at a time
        // paced by the page that reads, so that only the other falls behind.
        const QList<QPair<QString, QByteArray>> flood(
            1000, {"quendra/desk/5/dp/set", QByteArray(60, 'x')});
        for (int i = 0; i < 40 && !m_web.bridge->output().contains("dropped"); ++i) {
            const qsizetype before = reader.count();
            m_web.probe->publishMany(flood);
            (void)QTest::qWaitFor([&] { return reader.count() >= before + flood.size(); }, 5000);
        }
        QVERIFY2(m_web.bridge->says("dropped: more than 1024 KiB wait", WaitMs),
                 m_web.bridge->output().right(2000).constData());

        QVERIFY(m_web.probe->publish("quendra/desk/7/dp/set", "7"));
        QCOMPARE(m_web.desk.read(WaitMs, 200).toHex(' '), QByteArray("07 63 07"));
        QVERIFY(m_web.probe->waitFor("quendra/desk/7/dp", "7", WaitMs));
        QVERIFY2(reader.waitFor(
                     "desk/7/dp", [](const QJsonValue& v) { return v == "7"; }, 60000),
                 m_web.bridge->output().right(1000).constData());
        // Only the page that stopped reading.
        QCOMPARE(m_web.bridge->output().count("dropped"), 1);
        ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TestWebLimits)
#include "tst_web_limits.moc"
