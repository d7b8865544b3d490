// quendra-bridge's WebSocket API and page server as a program, from a C++
// client: the message shape both ways, who gets in, over HTTP and on the
// WebSocket; against a real Mosquitto and a line on a pty.
#include "tests/support/ApiClient.h"
#include "tests/support/Watchdog.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

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
        ApiClient page(m_web.api(), m_web.pageOrigin(), bearer());
        QVERIFY(page.opens());
        page.hello();
        const auto info = page.waitFor("bridge/info");
        QVERIFY(info);
        QCOMPARE(
            info->toObject().value("lines").toArray().first().toObject().value("name").toString(),
            "desk");
        QCOMPARE(info->toObject().value("broker").toString(), m_web.broker.url());
        QVERIFY(!info->toObject().value("allowRaw").toBool());
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
        const auto display = page.waitFor("desk/5/display", [](const QJsonValue& v) {
            return v.toObject().value("shows") == "HI";
        });
        QVERIFY(display);
        QCOMPARE(display->toObject().value("digits").toArray(),
                 QJsonArray({"", "", "", "", "bcefg", "ef"}));
        QVERIFY(page.waitFor("desk/5/text", [](const QJsonValue& v) { return v == "HI"; }));
        QVERIFY(m_web.probe->waitFor("quendra/desk/5/text", "HI", WaitMs));

        // A whole number goes as the broker's decimal payload.
        page.send("desk/5/long/set", -42);
        QCOMPARE(m_web.desk.read(WaitMs, 200).toHex(' '), QByteArray("05 65 ff ff ff d6"));
    }

    // The same refusal as a message on the broker gets, to every page and to
    // PREFIX/LINE/error; what reaches no line goes to bridge/error.
    void refusals_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("topic"); // where the page hears the refusal
        QTest::addColumn<QString>("reason");

        QTest::newRow("a bad value") << R"({"topic":"desk/5/dp/set","payload":"99"})"
                                     << "desk/error"
                                     << "0 to 63";
        QTest::newRow("raw without --allow-raw")
            << R"({"topic":"desk/raw/set","payload":"05 62 20 20 20 20 48 49"})"
            << "desk/error"
            << "--allow-raw";
        QTest::newRow("an object for a value") << R"({"topic":"desk/5/text/set","payload":{}})"
                                               << "desk/error"
                                               << "empty payload";
        QTest::newRow("no such line") << R"({"topic":"hall/5/text/set","payload":"HI"})"
                                      << "bridge/error"
                                      << "no line named \"hall\"";
        QTest::newRow("not JSON") << "desk/5/text/set HI"
                                  << "bridge/error"
                                  << "JSON object";
    }
    void refusals()
    {
        QFETCH(QString, message);
        QFETCH(QString, topic);
        QFETCH(QString, reason);
        ApiClient page(m_web.api(), m_web.pageOrigin(), bearer());
        ApiClient other(m_web.api(), m_web.pageOrigin(), bearer());
        QVERIFY(page.opens() && other.opens());
        page.hello();
        other.hello();
        QVERIFY(page.waitFor("bridge/info") && other.waitFor("bridge/info"));
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

    // The token in the first message or the handshake's header; anything
    // else closes with 4401 before a word of state is said.
    void access_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("hello");
        QTest::addColumn<int>("close"); // 0: the page is let in

        const QString hello = R"({"topic":"bridge/hello","payload":{"token":"%1"}})";
        QTest::newRow("token in the hello") << QByteArray() << hello.arg(QString(Token)) << 0;
        QTest::newRow("token in the header") << bearer() << hello.arg("") << 0;
        QTest::newRow("a browser's login")
            << "Basic " + ("op:" + Token).toBase64() << R"({"topic":"bridge/hello"})" << 0;
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
        ApiClient page(m_web.api(), m_web.pageOrigin(), header);
        QVERIFY(page.opens());
        page.send(hello);
        if (close == 0) {
            QVERIFY(page.waitFor("bridge/info"));
            return;
        }
        QVERIFY(page.closes());
        QCOMPARE(page.closeCode(), close);
        QCOMPARE(page.count(), 0);
        QCOMPARE(m_web.desk.read(300).toHex(' '), QByteArray());
    }

    // Every request needs the token in a header; a token in the URL counts
    // for nothing (URLs end up in logs).
    void http_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");

        QTest::newRow("no token") << "/" << QByteArray() << 401 << QByteArray();
        QTest::newRow("the token in the URL")
            << QString("/?token=" + Token) << QByteArray() << 401 << QByteArray();
        QTest::newRow("a wrong token")
            << "/app.js" << QByteArray("Bearer tst-web-api-x") << 401 << QByteArray();
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

    // A page of another site cannot use a browser's login to drive the lines.
    void origin_data()
    {
        QTest::addColumn<QString>("origin"); // %1: the bridge's own host and port
        QTest::addColumn<bool>("opens");
        QTest::newRow("its own") << "http://%1" << true;
        QTest::newRow("another site") << "http://evil.example" << false;
        QTest::newRow("another port on the same host") << "http://127.0.0.1:1" << false;
        QTest::newRow("a sandboxed frame") << "null" << false;
        QTest::newRow("no browser at all") << "" << true;
    }
    void origin()
    {
        QFETCH(QString, origin);
        QFETCH(bool, opens);
        ApiClient page(m_web.api(),
                       origin.contains("%1") ? origin.arg(m_web.bridge->authority()) : origin,
                       bearer());
        QCOMPARE(page.opens(), opens);
    }
};

QTEST_GUILESS_MAIN(TestWebApi)
#include "tst_web_api.moc"
