// The page's side of quendra-bridge in-process.
#include "protocol/protocol.h"
#include "tests/support/Process.h"
#include "tools/bridge/Options.h"
#include "tools/bridge/WebAccess.h"
#include "tools/bridge/WebMirror.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <array>

using namespace bridge;

namespace {

// Rows of two string columns.
void stringRows(std::initializer_list<std::array<const char*, 3>> rows)
{
    for (const auto& [name, first, second] : rows)
        QTest::newRow(name) << QString(first) << QString(second);
}

QJsonObject parsed(const QString& message)
{
    return QJsonDocument::fromJson(message.toUtf8()).object();
}

} // namespace

class TestWebMessages : public QObject
{
    Q_OBJECT

private slots:
    // The display's words come from the module's own font read backwards.
    void shown_data()
    {
        QTest::addColumn<QByteArrayList>("frames"); // one after the other, to UID 5
        QTest::addColumn<QStringList>("digits");
        QTest::addColumn<QString>("shows");

        QTest::newRow("text HI") << QByteArrayList{QByteArray::fromHex("0562202020204849")}
                                 << QStringList{"", "", "", "", "bcefg", "ef"} << "HI";
        QTest::newRow("a number with a point")
            << QByteArrayList{QByteArray::fromHex("0564000004d2"), QByteArray::fromHex("056302")}
            << QStringList{"", "", "bc", "abdeg", "abcdg.", "bcfg"} << "123.4";
        QTest::newRow("too long a number")
            << QByteArrayList{QByteArray::fromHex("05640098967f")}
            << QStringList{"", "", "", "abcdef", "aefg", "def"} << "0FL";
        QTest::newRow("a pattern no character makes")
            << QByteArrayList{QByteArray::fromHex("0561000000000009")}
            << QStringList{"", "", "", "", "", "a."} << "?.";
    }
    void shown()
    {
        QFETCH(QByteArrayList, frames);
        QFETCH(QStringList, digits);
        QFETCH(QString, shows);
        Config config;
        config.lines << NamedLine{"desk", "/dev/null", "9600,n,8,1"};
        WebMirror mirror(config);
        QList<QString> messages;
        for (const QByteArray& frame : frames)
            messages = mirror.frameSent("desk", frame);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(parsed(messages[0]).value("topic").toString(), "desk/frame");
        const QJsonObject display = parsed(messages[1]);
        QCOMPARE(display.value("topic").toString(), "desk/5/display");
        QStringList got;
        for (const auto& d : display.value("payload").toObject().value("digits").toArray())
            got << d.toString();
        QCOMPARE(got, digits);
        QCOMPARE(display.value("payload").toObject().value("shows").toString(), shows);
        // A page that comes later sees the same.
        QVERIFY(mirror.snapshot().contains(messages[1]));
    }

    void pageMessages_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result"); // "TOPIC PAYLOAD" or part of the refusal

        stringRows(
            {{"string", R"({"topic":"desk/5/text/set","payload":"HI"})", "desk/5/text/set HI"},
             {"whole number", R"({"topic":"desk/5/long/set","payload":-12})",
              "desk/5/long/set -12"},
             {"fraction", R"({"topic":"desk/5/long/set","payload":1.5})", "whole number"},
             {"beyond 2^53", R"({"topic":"desk/5/long/set","payload":1e300})", "whole number"},
             {"array", R"({"topic":"desk/5/text/set","payload":["HI"]})",
              "a string, a number or an object"},
             {"no topic", R"({"payload":"HI"})", "JSON object"},
             {"not JSON", "HI", "JSON object"}});
    }
    void pageMessages()
    {
        QFETCH(QString, text);
        QFETCH(QString, result);
        const Checked<PageMessage> message = readPageMessage(text);
        if (!message)
            QVERIFY2(message.message().contains(result), qPrintable(message.message()));
        else
            QCOMPARE(message->topic + ' ' + QString::fromUtf8(message->payload), result);
    }

    void origins_data()
    {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("same");

        const auto row = [](const char* name, const char* origin, const char* host, bool same) {
            QTest::newRow(name) << QByteArray(origin) << QByteArray(host) << same;
        };
        row("same", "http://127.0.0.1:8080", "127.0.0.1:8080", true);
        row("behind a proxy on 443", "https://Plant.example", "plant.example", true);
        row("another port", "http://127.0.0.1:8081", "127.0.0.1:8080", false);
        row("another site", "http://evil.example", "127.0.0.1:8080", false);
        row("a site that ends the same", "http://evil127.0.0.1:8080", "127.0.0.1:8080", false);
        row("a sandboxed frame", "null", "127.0.0.1:8080", false);
        row("not a browser", "", "127.0.0.1:8080", true);
    }
    void origins()
    {
        QFETCH(QByteArray, origin);
        QFETCH(QByteArray, host);
        QFETCH(bool, same);
        QCOMPARE(sameOrigin(origin, host), same);
    }

    void authorization_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("authorized");
        const QByteArray token = "0123456789abcdef";
        QTest::newRow("bearer") << "Bearer " + token << true;
        QTest::newRow("basic, any user") << "Basic " + ("op:" + token).toBase64() << true;
        QTest::newRow("basic, the token as user") << "Basic " + (token + ":").toBase64() << false;
        QTest::newRow("a token one character short") << "Bearer " + token.chopped(1) << false;
        QTest::newRow("a token with more after it") << "Bearer " + token + "0" << false;
        QTest::newRow("broken base64") << QByteArray("Basic ***") << false;
        QTest::newRow("no scheme") << token << false;
        QTest::newRow("none") << QByteArray() << false;
    }
    void authorization()
    {
        QFETCH(QByteArray, header);
        QFETCH(bool, authorized);
        QCOMPARE(authorizes(header, "0123456789abcdef"), authorized);
    }

    void options_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("result"); // "ADDRESS PORT BASE broker|no-broker" or a refusal

        stringRows(
            {{"a port alone", "--web 8080", "127.0.0.1 8080 / no-broker"},
             {"with a broker", "--web 0.0.0.0:80 --broker mqtt://bus", "0.0.0.0 80 / broker"},
             {"IPv6 and a base", "--web [::1]:8080 --web-base /displays",
              "::1 8080 /displays/ no-broker"},
             {"no page, the broker by default", "", "none broker"},
             {"a name", "--web plant:8080", "ADDRESS:PORT"},
             {"a port too high", "--web 65536", "ADDRESS:PORT"},
             {"a base that climbs", "--web 8080 --web-base /a/../b", "--web-base"},
             {"a token without a page", "--web-token-file /t", "need --web"}});
    }
    void options()
    {
        QFETCH(QString, args);
        QFETCH(QString, result);
        const Checked<Config> config =
            parseOptions((args + " --line a=/dev/x").split(' ', Qt::SkipEmptyParts), "9600,n,8,1");
        if (!config) {
            QVERIFY2(config.message().contains(result), qPrintable(config.message()));
            return;
        }
        const WebConfig& web = config->web;
        const QString page = web.address.isNull() ? QStringLiteral("none")
                                                  : QStringLiteral("%1 %2 %3")
                                                        .arg(web.address.toString())
                                                        .arg(web.port)
                                                        .arg(web.base);
        QCOMPARE(page + (config->broker ? " broker" : " no-broker"), result);
    }

    void tokenFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("result"); // the token, or part of the refusal
        QTest::newRow("first line, blanks dropped")
            << QByteArray("  0123456789abcdef \nmore\n") << "0123456789abcdef";
        QTest::newRow("too short") << QByteArray("secret\n") << "fewer than 16";
        QTest::newRow("a blank inside") << QByteArray("01234567 89abcdef\n") << "blank";
        QTest::newRow("empty") << QByteArray() << "fewer than 16";
    }
    void tokenFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, result);
        QTemporaryDir dir;
        const Checked<QByteArray> token = readToken(writeFile(dir.filePath("token"), content));
        QVERIFY2(token ? QString::fromLatin1(*token) == result : token.message().contains(result),
                 qPrintable(token ? QString::fromLatin1(*token) : token.message()));
    }
};

QTEST_GUILESS_MAIN(TestWebMessages)
#include "tst_web_messages.moc"
