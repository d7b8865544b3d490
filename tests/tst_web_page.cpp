// quendra-bridge's page in a real headless Chromium (Debian's, driven by
// playwright-core from tests/web) against the program, a real Mosquitto and
// lines on pseudo-terminals. Controls are found by role and accessible name.
#include "tests/support/Broker.h"
#include "tests/support/PageDriver.h"
#include "tests/support/Pty.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WebBridge.h"

#include <QJsonArray>
#include <QtTest>

#include <chrono>
#include <memory>

namespace {

constexpr int WaitMs = 15000;
const QString Token = QStringLiteral("tst-web-page-0123456789");
const QString Markup = QStringLiteral("<img src=x onerror=alert(1)>");
// A line's name may hold no "=": markup of another kind.
const QString MarkedLine = QStringLiteral("<b>hall");

using Scope = QList<QPair<QString, QString>>;
const Scope Desk{{"region", "Line desk"}};
const Scope Card5{{"region", "Line desk"}, {"region", "Module 5"}};

// Sets answer to the driver's answer to call, and fails the row unless it is ok.
#define DRIVE(answer, call)                                                                        \
    (answer) = (call);                                                                             \
    QVERIFY2((answer).value("ok").toBool(), qPrintable((answer).value("error").toString()))

qint64 monotonicNs()
{
    // The clock the driver's stamps come from (CLOCK_MONOTONIC).
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QJsonObject with(QJsonObject control, const QString& key, const QJsonValue& value)
{
    control.insert(key, value);
    return control;
}

} // namespace

class TestWebPage : public QObject
{
    Q_OBJECT

    QString m_why;
    QTemporaryDir m_dir;
    Broker m_broker;
    std::unique_ptr<Pty> m_desk; // behind m_link, so that it can go and come back
    QString m_link;
    Pty m_marked;
    std::unique_ptr<MqttProbe> m_probe;
    std::unique_ptr<WebBridge> m_bridge;
    PageDriver m_page;
    std::unique_ptr<Watchdog> m_watchdog;

    QJsonObject drive(const QString& op, const QJsonObject& fields = {},
                      int timeoutMs = WaitMs + 5000)
    {
        return m_page.call(op, fields, timeoutMs);
    }
    // Opens the bridge's page in a fresh context with the operator's login.
    QJsonObject openPage(int width = 1200, const QString& password = Token,
                         const QString& url = QString())
    {
        QJsonObject fields{{"url", url.isEmpty() ? m_bridge->url() : url},
                           {"width", width},
                           {"height", width < 600 ? 740 : 900}};
        if (!password.isEmpty())
            fields.insert("credentials",
                          QJsonObject{{"username", "operator"}, {"password", password}});
        QJsonObject opened = drive("open", fields);
        // Ready once the page has heard everything.
        if (opened.value("status").toInt() == 200)
            drive("waitText",
                  with(PageDriver::control({}, "status", "Connection"), "prefix", "Connected"));
        return opened;
    }
    QString apiUrl() const { return "ws://" + m_bridge->authority() + "/api"; }

private slots:
    void initTestCase()
    {
        if (!Broker::installed())
            QSKIP("mosquitto is not installed (scripts/install-deps.sh installs it)");
        QVERIFY2(m_page.start(&m_why), qPrintable(m_why));
        QVERIFY2(m_broker.start(&m_why), qPrintable(m_why));
        m_probe = std::make_unique<MqttProbe>();
        QVERIFY2(m_probe->connect(m_broker.port(), {"quendra/#"}, &m_why), qPrintable(m_why));
        QFile token(m_dir.filePath("token"));
        QVERIFY(token.open(QIODevice::WriteOnly) && token.write(Token.toUtf8() + '\n') > 0);
        token.close();
        m_desk = std::make_unique<Pty>();
        m_link = m_dir.filePath("desk");
        QVERIFY(QFile::link(m_desk->devicePath(), m_link));
        // A second line whose very name is markup.
        m_bridge = std::make_unique<WebBridge>(
            QUENDRA_BRIDGE_PATH,
            QStringList{"--web-token-file", token.fileName(), "--broker", m_broker.url(),
                        "--client-id", "webpage", "--line", "desk=" + m_link + "@9600,n,8,1",
                        "--line", MarkedLine + "=" + m_marked.devicePath(), "--modules", "desk:5"});
        QVERIFY2(m_bridge->serving(WaitMs, &m_why), qPrintable(m_why));
        QVERIFY(m_probe->waitFor("quendra/desk/status", "online", WaitMs));
    }
    void init() { m_watchdog = std::make_unique<Watchdog>(90000); }
    void cleanup() { m_watchdog.reset(); }

    void textFromPage()
    {
        QCOMPARE(openPage().value("status").toInt(), 200);
        m_probe->clear();
        QJsonObject done =
            drive("fill", with(PageDriver::control(Card5, "textbox", "Text"), "value", "HI"));
        QVERIFY2(done.value("ok").toBool(), qPrintable(done.value("error").toString()));
        DRIVE(done, drive("click", PageDriver::control(Card5, "button", "Send text")));
        QCOMPARE(m_desk->read(WaitMs, 200).toHex(' '), QByteArray("05 62 20 20 20 20 48 49"));
        DRIVE(done, drive("waitFor", PageDriver::control(Card5, "img", "Display: HI")));
        // H lights five segments, I two; nothing else is lit.
        done = drive("eval", {{"js", "[...document.querySelectorAll('.card .display .on')]"
                                     ".map((s) => s.dataset.segment).join('')"}});
        QCOMPARE(done.value("value").toString(), "bcefgef");
        // Published as any other client's order would be.
        QVERIFY(m_probe->waitFor("quendra/desk/5/text", "HI", WaitMs));
    }

    // A state that another MQTT client brings about shows on the card: the
    // quickest of five within 200 ms, so that a loaded machine's one slow
    // turn does not decide it.
    void fromBroker()
    {
        QCOMPARE(openPage().value("status").toInt(), 200);
        QString shown = "Display: dark";
        QJsonObject done;
        DRIVE(done, drive("waitFor", PageDriver::control(Card5, "img", QString())));
        done = drive("text", PageDriver::control(Card5, "img", QString()));
        shown = done.value("label").toString();
        qint64 best = std::numeric_limits<qint64>::max();
        QStringList all;
        for (const char* value : {"1", "22", "333", "4444", "55555"}) {
            const QString label = QStringLiteral("Display: %1").arg(value);
            DRIVE(done,
                  drive("watch", with(PageDriver::control(Card5, "img", shown), "label", label)));
            const qint64 sent = monotonicNs();
            m_probe->publishMany({{"quendra/desk/5/text/set", value}});
            DRIVE(done, drive("seen", {{"label", label}}));
            const qint64 ms = (done.value("at").toString().toLongLong() - sent) / 1000000;
            best = qMin(best, ms);
            all << QString::number(ms);
            shown = label;
        }
        qInfo("published to shown on the card: %s ms", qPrintable(all.join(", ")));
        QByteArray line;
        for (const QDeadlineTimer deadline(WaitMs);
             !line.endsWith("55555") && !deadline.hasExpired();)
            line += m_desk->read(100, 20);
        QVERIFY(line.endsWith("55555"));
        QVERIFY2(best < 200, qPrintable(all.join(", ")));
    }

    // What modules, topics and errors say is shown as characters, never obeyed.
    void markup()
    {
        QCOMPARE(openPage().value("status").toInt(), 200);
        QVERIFY(m_probe->publish("quendra/desk/5/text/set", Markup.toUtf8()));
        QVERIFY(m_probe->publish("quendra/desk/5/text/set", "<i>"));
        QCOMPARE(m_desk->read(WaitMs, 200).toHex(' '), QByteArray("05 62 20 20 20 3c 69 3e"));
        QJsonObject done =
            drive("waitFor", PageDriver::control({}, "region", "Line " + MarkedLine));
        QVERIFY2(done.value("ok").toBool(), qPrintable(done.value("error").toString()));
        DRIVE(done, drive("waitText", with(PageDriver::control(Card5, "definition", QString()),
                                           "prefix", "<i>")));
        done = drive("eval", {{"js", "({ elements: document.querySelectorAll('img, i, b').length,"
                                     " log: document.getElementById('log').textContent })"}});
        const QJsonObject page = done.value("value").toObject();
        QCOMPARE(page.value("elements").toInt(), 0);
        QVERIFY2(page.value("log").toString().contains("(quendra/desk/5/text/set " + Markup + ")"),
                 qPrintable(page.value("log").toString()));
        QCOMPARE(drive("problems").value("dialogs").toArray(), QJsonArray());
    }

    // A paused log holds what comes, and shows it all when resumed.
    void logPaused()
    {
        QCOMPARE(openPage().value("status").toInt(), 200);
        const QJsonObject pause = PageDriver::control({}, "button", "Pause log");
        // What the log and its count of held entries say once the count is not empty.
        const QString read =
            "new Promise((resolve) => { const t0 = Date.now(); const tick = () => {"
            " const held = document.getElementById('held').textContent;"
            " if (held || Date.now() - t0 > 5000) resolve(held + '|' +"
            " document.getElementById('log').textContent);"
            " else setTimeout(tick, 20); }; tick(); })";
        QJsonObject done;
        DRIVE(done, drive("click", pause));
        QVERIFY(m_probe->publish("quendra/desk/5/dp/set", "33"));
        QCOMPARE(m_desk->read(WaitMs, 200).toHex(' '), QByteArray("05 63 21"));
        DRIVE(done, drive("eval", {{"js", read}}));
        QVERIFY2(done.value("value").toString().startsWith("1 held|"),
                 qPrintable(done.value("value").toString()));
        QVERIFY(!done.value("value").toString().contains("05 63 21"));
        DRIVE(done, drive("click", pause));
        DRIVE(done, drive("eval", {{"js", read}}));
        QVERIFY2(done.value("value").toString().startsWith("|") &&
                     done.value("value").toString().contains("05 63 21  UID 5 decimal points 33"),
                 qPrintable(done.value("value").toString()));
    }

    void rawRefused()
    {
        QCOMPARE(openPage().value("status").toInt(), 200);
        // No form offers it, and the API refuses it as the broker would.
        QJsonObject done =
            drive("waitFor", with(PageDriver::control(Desk, "textbox", "Raw frame (hex)"), "state",
                                  "detached"));
        QVERIFY2(done.value("ok").toBool(), qPrintable(done.value("error").toString()));
        done = drive("apiProbe", {{"url", apiUrl()},
                                  {"order", QJsonObject{{"topic", "desk/raw/set"},
                                                        {"payload", "05 62 20 20 20 20 48 49"}}}});
        const QString reason = done.value("value").toObject().value("reason").toString();
        QVERIFY2(reason.contains("--allow-raw"),
                 qPrintable(done.value("error").toString() + reason));
        done = drive("waitText", with(PageDriver::control({}, "log", "Event log"), "prefix", ""));
        QVERIFY(done.value("text").toString().contains("raw frames are off"));
        QCOMPARE(m_desk->read(300).toHex(' '), QByteArray());
    }

    // The page's own files need the login, and its WebSocket's hello a token
    // that is right, whatever login the browser holds; the WebSocket without
    // any token is tst_web_api's.
    void tokens_data()
    {
        QTest::addColumn<QString>("password"); // the browser's login; empty: none
        QTest::addColumn<QString>("token");    // in a hello of the page's own
        QTest::addColumn<int>("status");
        const QString wrong = "tst-web-page-0123456788";
        QTest::newRow("no login") << ""
                                  << "" << 401;
        QTest::newRow("a wrong login") << wrong << "" << 401;
        QTest::newRow("a wrong token in the hello") << Token << wrong << 200;
    }
    void tokens()
    {
        QFETCH(QString, password);
        QFETCH(QString, token);
        QFETCH(int, status);
        QCOMPARE(openPage(1200, password.isEmpty() ? QString() : password).value("status").toInt(),
                 status);
        if (status != 200)
            return;
        const QJsonObject done = drive("apiProbe", {{"url", apiUrl()}, {"token", token}});
        const QJsonObject answer = done.value("value").toObject();
        QVERIFY(answer.value("opened").toBool());
        QCOMPARE(answer.value("code").toInt(), 4401);
        QCOMPARE(answer.value("got").toArray(), QJsonArray());
    }

    // A page of another origin gets no WebSocket, though the browser holds
    // the operator's login; the page's own origin does.
    void crossOrigin_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("opens");
        QTest::newRow("its own origin") << "127.0.0.1" << true;
        QTest::newRow("another origin") << "localhost" << false;
    }
    void crossOrigin()
    {
        QFETCH(QString, host);
        QFETCH(bool, opens);
        const QString port = m_bridge->authority().section(':', 1);
        QVERIFY(openPage(1200, Token, QStringLiteral("http://%1:%2/").arg(host, port))
                    .value("ok")
                    .toBool());
        const QJsonObject done = drive("apiProbe", {{"url", apiUrl()}});
        const QJsonObject answer = done.value("value").toObject();
        QCOMPARE(answer.value("opened").toBool(), opens);
        QCOMPARE(answer.value("got").toArray().isEmpty(), !opens);
    }

    // An operator's round of the forms, and not one error or warning on the
    // browser's console; then at a phone's width, nothing wider than it.
    void consoleAndPhone_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("desktop") << 1200;
        QTest::newRow("phone") << 360;
    }
    void consoleAndPhone()
    {
        QFETCH(int, width);
        QCOMPARE(openPage(width).value("status").toInt(), 200);
        const QList<QPair<QString, QString>> orders = {
            {"Long number", "-1234"}, {"Short number", "77"}, {"Segments (six hex bytes)", "ZZ"}};
        for (const auto& [field, value] : orders) {
            QJsonObject done =
                drive("fill", with(PageDriver::control(Card5, "textbox", field), "value", value));
            QVERIFY2(done.value("ok").toBool(), qPrintable(done.value("error").toString()));
        }
        for (const char* button :
             {"Send long", "Send short", "Send segments", "Toggle brightness"}) {
            const QJsonObject done = drive("click", PageDriver::control(Card5, "button", button));
            QVERIFY2(done.value("ok").toBool(), qPrintable(done.value("error").toString()));
        }
        QJsonObject done =
            drive("check", with(PageDriver::control(Card5, "checkbox", "Point 5"), "value", true));
        QVERIFY(done.value("ok").toBool());
        QVERIFY(drive("click", PageDriver::control(Card5, "button", "Send points"))
                    .value("ok")
                    .toBool());
        QCOMPARE(m_desk->read(WaitMs, 300).toHex(' '),
                 QByteArray("05 65 ff ff fb 2e 05 66 00 4d 05 6e 05 63 02"));
        DRIVE(done, drive("waitFor", PageDriver::control(Card5, "img", "Display: 7.7, dim")));
        // Every control has a name a screen reader can say.
        DRIVE(done,
              drive("eval", {{"js", "[...document.querySelectorAll('input, select, button')]"
                                    ".filter((c) => !(c.labels?.length || c.textContent.trim()"
                                    " || c.getAttribute('aria-label'))).length"}}));
        QCOMPARE(done.value("value").toInt(), 0);
        done = drive("eval", {{"js", "[document.documentElement.scrollWidth, window.innerWidth]"}});
        const QJsonArray widths = done.value("value").toArray();
        QVERIFY2(
            widths[0].toInt() <= widths[1].toInt(),
            qPrintable(
                QStringLiteral("%1 wide in %2").arg(widths[0].toInt()).arg(widths[1].toInt())));
        const QJsonObject problems = drive("problems");
        QCOMPARE(problems.value("console").toArray(), QJsonArray());
        QCOMPARE(problems.value("pageErrors").toArray(), QJsonArray());
        // The brightness back as it was for the rows after.
        QVERIFY(drive("click", PageDriver::control(Card5, "button", "Toggle brightness"))
                    .value("ok")
                    .toBool());
        QVERIFY(!m_desk->read(WaitMs, 200).isEmpty());
    }

    // --web alone: no broker anywhere, under a path as behind a proxy.
    void noBroker()
    {
        Pty line;
        WebBridge alone(QUENDRA_BRIDGE_PATH,
                        {"--web-base", "/displays", "--line", "bench=" + line.devicePath(),
                         "--modules", "bench:3"});
        QVERIFY2(alone.serving(WaitMs, &m_why), qPrintable(m_why));
        QVERIFY(alone.url().endsWith("/displays/"));
        QCOMPARE(openPage(1200, QString(), alone.url()).value("status").toInt(), 200);
        const Scope card{{"region", "Line bench"}, {"region", "Module 3"}};
        QJsonObject done =
            drive("fill", with(PageDriver::control(card, "textbox", "Text"), "value", "88"));
        QVERIFY2(done.value("ok").toBool(), qPrintable(done.value("error").toString()));
        QVERIFY(
            drive("click", PageDriver::control(card, "button", "Send text")).value("ok").toBool());
        QCOMPARE(line.read(WaitMs, 200).toHex(' '), QByteArray("03 62 20 20 20 20 38 38"));
        done = drive("eval", {{"js", "document.getElementById('broker').textContent"}});
        QVERIFY2(done.value("value").toString().startsWith("No broker"),
                 qPrintable(done.value("value").toString()));
        QVERIFY(!alone.output().contains("broker"));
    }

    // Last: the desk line goes away and comes back.
    void lineGone()
    {
        QCOMPARE(openPage().value("status").toInt(), 200);
        const QJsonObject status = PageDriver::control(Desk, "status", QString());
        QJsonObject done;
        DRIVE(done, drive("waitText", with(status, "prefix", "online")));
        m_desk.reset();
        QFile::remove(m_link);
        // A device line learns that it is gone when it next writes.
        done = drive("fill", with(PageDriver::control(Card5, "textbox", "Text"), "value", "GONE"));
        QVERIFY(done.value("ok").toBool());
        QVERIFY(
            drive("click", PageDriver::control(Card5, "button", "Send text")).value("ok").toBool());
        DRIVE(done, drive("waitText",
                          QJsonObject(with(with(status, "prefix", "offline"), "timeoutMs", 2000))));
        m_desk = std::make_unique<Pty>();
        QVERIFY(QFile::link(m_desk->devicePath(), m_link));
        DRIVE(done,
              drive("waitText", with(with(status, "prefix", "online"), "timeoutMs", 40000), 45000));
        QCOMPARE(m_desk->read(WaitMs, 200).toHex(' '), QByteArray("05 62 20 20 47 4f 4e 45"));
    }
};

QTEST_GUILESS_MAIN(TestWebPage)
#include "tst_web_page.moc"
