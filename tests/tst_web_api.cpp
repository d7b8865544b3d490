// quendra-bridge's WebSocket API and page server as a program, from C++
// clients against a real Mosquitto and a line on a pty.
#include "tests/support/ApiClient.h"
#include "tests/support/Watchdog.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace webapi;

class TestWebApi : public QObject
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
        QVERIFY2(m_web.start("webapi", &m_why), qPrintable(m_why));
    }
    void init() { m_watchdog = std::make_unique<Watchdog>(120000); }
    void cleanup() { m_watchdog.reset(); }

    // On hello every line and module, then every change; an order from the
    // page is published to the broker as one from any other client.
    void snapshotAndOrder()
    {
        ApiClient page(m_web);
        QVERIFY(page.joins());
        const QJsonObject info = page.waitFor("bridge/info")->toObject();
        QCOMPARE(info.value("lines").toArray().first().toObject().value("name").toString(), "desk");
        QCOMPARE(info.value("broker").toString(), m_web.broker.url());
        QVERIFY(!info.value("allowRaw").toBool());
        QCOMPARE(page.firstTopic(), "bridge/info");
        QVERIFY(page.waitFor("desk/status", [](const QJsonValue& v) { return v == "online"; }));
        QVERIFY(page.waitFor("desk/5/display"));

        m_web.probe->clear();
        page.send("desk/5/text/set", "HI");
        QCOMPARE(m_web.desk.read(WaitMs, 200).toHex(' '), QByteArray("05 62 20 20 20 20 48 49"));
        const auto frame = page.waitFor("desk/frame");
        QVERIFY(frame);
        QCOMPARE(frame->toObject().value("bytes").toString(), "05 62 20 20 20 20 48 49");
        QCOMPARE(frame->toObject().value("meaning").toString(), "UID 5 text '    HI'");
        QVERIFY(page.waitFor("desk/5/display", [](const QJsonValue& v) {
            return v.toObject().value("shows") == "HI";
        }));
        QVERIFY(page.waitFor("desk/5/text", [](const QJsonValue& v) { return v == "HI"; }));
        QVERIFY(m_web.probe->waitFor("quendra/desk/5/text", "HI", WaitMs));
    }

    // The same refusal as a message on the broker gets, to every page and to
    // PREFIX/LINE/error; what reaches no line goes to bridge/error.
    void refusals_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("topic"); // where the page hears it
        QTest::addColumn<QString>("reason");

        const auto row = [](const char* name, const char* message, const char* topic,
                            const char* reason) {
            QTest::newRow(name) << QString(message) << QString(topic) << QString(reason);
        };
        row("a bad value", R"({"topic":"desk/5/dp/set","payload":"99"})", "desk/error", "0 to 63");
        row("an object for a value", R"({"topic":"desk/5/text/set","payload":{}})", "desk/error",
            "empty payload");
        row("no such line", R"({"topic":"hall/5/text/set","payload":"HI"})", "bridge/error",
            "no line named \"hall\"");
        row("not JSON", "desk/5/text/set HI", "bridge/error", "JSON object");
    }
    void refusals()
    {
        QFETCH(QString, message);
        QFETCH(QString, topic);
        QFETCH(QString, reason);
        ApiClient page(m_web);
        ApiClient other(m_web);
        QVERIFY(page.joins() && other.joins());
        m_web.probe->clear();
        page.send(message);
        const auto error = page.waitFor(topic);
        QVERIFY(error);
        const QString said = error->toObject().value("reason").toString();
        QVERIFY2(said.contains(reason), qPrintable(said));
        if (topic == "desk/error") {
            QJsonObject onBroker;
            QVERIFY(m_web.probe->waitFor(
                [&](const MqttProbe::Message& m) {
                    onBroker = QJsonDocument::fromJson(m.payload).object();
                    return m.topic == "quendra/desk/error";
                },
                WaitMs));
            QCOMPARE(error->toObject(), onBroker);
            QVERIFY(other.waitFor(topic));
        } else {
            // Only the page that sent it hears of it.
            QVERIFY(!other.waitFor(topic, {}, 300));
        }
        QCOMPARE(m_web.desk.read(300).toHex(' '), QByteArray());
    }

    void access_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("hello");
        QTest::addColumn<int>("close"); // 0: the page is let in

        const QString hello = R"({"topic":"bridge/hello","payload":{"token":"%1"}})";
        QTest::newRow("token in the hello") << QByteArray() << hello.arg(QString(Token)) << 0;
        QTest::newRow("token in the header") << bearer() << hello.arg("") << 0;
        QTest::newRow("no token") << QByteArray() << hello.arg("") << 4401;
        QTest::newRow("a wrong token")
            << QByteArray() << hello.arg("tst-web-api-0123456788") << 4401;
        QTest::newRow("a wrong one beside the header") << bearer() << hello.arg("wrong") << 4401;
        QTest::newRow("an order first")
            << QByteArray() << R"({"topic":"desk/5/text/set","payload":"HI"})" << 4401;
        QTest::newRow("not JSON first") << QByteArray() << "hello" << 4401;
    }
    void access()
    {
        QFETCH(QByteArray, header);
        QFETCH(QString, hello);
        QFETCH(int, close);
        ApiClient page(m_web, header);
        QVERIFY(page.opens());
        page.send(hello);
        if (close == 0) {
            QVERIFY(page.waitFor("bridge/info"));
            return;
        }
        QVERIFY(page.closes());
        QCOMPARE(page.closeCode(), close);
        QCOMPARE(page.count(), 0); // not a word of state
        QCOMPARE(m_web.desk.read(300).toHex(' '), QByteArray());
    }

    // A token in the URL counts for nothing: URLs end up in logs.
    void http_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");

        QTest::newRow("no token") << "/" << QByteArray() << 401 << QByteArray();
        QTest::newRow("the token in the URL")
            << QString("/?token=" + Token) << QByteArray() << 401 << QByteArray();
        QTest::newRow("the page") << "/" << bearer() << 200 << QByteArray("text/html");
        QTest::newRow("its script, by a browser's login")
            << "/app.js"
            << "Basic " + ("op:" + Token).toBase64() << 200 << QByteArray("text/javascript");
        QTest::newRow("nothing there") << "/etc/passwd" << bearer() << 404 << QByteArray();
        QTest::newRow("the API without the upgrade") << "/api" << bearer() << 426 << QByteArray();
    }
    void http()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, header);
        QFETCH(int, status);
        QFETCH(QByteArray, type);
        QNetworkAccessManager network;
        QNetworkRequest request(QUrl("http://" + m_web.bridge->authority() + path));
        if (!header.isEmpty())
            request.setRawHeader("Authorization", header);
        std::unique_ptr<QNetworkReply> reply(network.get(request));
        QVERIFY(QTest::qWaitFor([&] { return reply->isFinished(); }, WaitMs));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
        QVERIFY(reply->rawHeader("Content-Type").startsWith(type));
        QVERIFY(reply->rawHeader("Content-Security-Policy").contains("default-src 'none'"));
        if (status == 401) {
            QVERIFY(reply->rawHeader("WWW-Authenticate").startsWith("Basic"));
            QCOMPARE(reply->readAll(), QByteArray());
        }
    }

    // A page of another site cannot use a browser's login to drive the lines
    // (the browser's own policy would stop a page, not another program).
    void origin() { QVERIFY(!ApiClient(m_web, bearer(), "http://evil.example").opens()); }

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
        QVERIFY(ApiClient(m_web).opens());
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
        QVERIFY(held.back()->waitForDisconnected(WaitMs));
        QVERIFY(m_web.bridge->says("refused: 64 are open", WaitMs));
        QCOMPARE(held.front()->state(), QAbstractSocket::ConnectedState);
        // A client turned away while the bridge still counts them tries anew.
        held.clear();
        QVERIFY(QTest::qWaitFor([&] { return ApiClient(m_web).opens(); }, WaitMs));
    }

    void tooBig()
    {
        ApiClient page(m_web);
        QVERIFY(page.joins());
        page.send("desk/5/text/set", QString(5000, 'X'));
        QVERIFY(page.closes());
        QCOMPARE(page.closeCode(), int(QWebSocketProtocol::CloseCodeTooMuchData));
        QCOMPARE(m_web.desk.read(300).toHex(' '), QByteArray());
    }

    void tooManyPages()
    {
        std::vector<std::unique_ptr<ApiClient>> pages;
        for (int i = 0; i < 16; ++i) {
            pages.push_back(std::make_unique<ApiClient>(m_web));
            QVERIFY(pages.back()->opens());
        }
        ApiClient extra(m_web);
        QVERIFY(extra.opens());
        QVERIFY(extra.closes());
        QCOMPARE(extra.closeCode(), 4429);
        QVERIFY2(extra.closeReason().contains("16"), qPrintable(extra.closeReason()));
        pages.pop_back();
        QVERIFY(ApiClient(m_web).joins());
    }

    // The line, the broker and the other pages go on meanwhile.
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
        QByteArray answer(4096, '\0');
        const ssize_t got = ::read(fd, answer.data(), size_t(answer.size()));
        QVERIFY2(got > 0 && answer.startsWith("HTTP/1.1 101"), answer.constData());
        // The hello as a client's masked text frame (a zero mask); then
        // never a byte more is read.
        const QByteArray frame =
            QByteArray::fromHex("81") + char(0x80 | hello.size()) + QByteArray(4, '\0') + hello;
        QCOMPARE(::write(fd, frame.constData(), size_t(frame.size())), ssize_t(frame.size()));

        ApiClient reader(m_web);
        QVERIFY(reader.joins());
        // Refusals, a message for every page, paced by the page that reads.
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

QTEST_GUILESS_MAIN(TestWebApi)
#include "tst_web_api.moc"
