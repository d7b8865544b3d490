// quendra-bridge as a process against a real Mosquitto broker started here,
// lines on pseudo-terminals and through ser2net.
#include "tests/support/Broker.h"
#include "tests/support/Process.h"
#include "tests/support/Pty.h"
#include "tests/support/Ser2net.h"

#include <QtTest>

#include <memory>

namespace {

// Generous: CI is a loaded two-core machine.
constexpr int WaitMs = 15000;

// The bridge, the test's child; its standard error is kept for the checks.
class BridgeProcess
{
public:
    explicit BridgeProcess(QStringList args) : m_args(std::move(args))
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
    }
    ~BridgeProcess() { stop(); }

    bool start()
    {
        m_process.start(QStringLiteral(QUENDRA_BRIDGE_PATH), m_args);
        return m_process.waitForStarted(WaitMs);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(WaitMs)) {
            m_process.kill();
            m_process.waitForFinished(WaitMs);
        }
    }
    QProcess& process() { return m_process; }
    QByteArray output()
    {
        m_process.waitForReadyRead(100);
        return m_output += m_process.readAll();
    }
    // Peak resident memory in kB, as the kernel counts it.
    qint64 peakRssKb() const { return procStatusKb(m_process.processId(), "VmHWM"); }

private:
    QStringList m_args;
    QProcess m_process;
    QByteArray m_output;
};

// Bytes from the pty until they end with tail, or the deadline.
QByteArray readUntilEnd(Pty& pty, const QByteArray& tail, int timeoutMs)
{
    QByteArray got;
    const QDeadlineTimer deadline(timeoutMs);
    while (!got.endsWith(tail) && !deadline.hasExpired())
        got += pty.read(100, 20);
    return got;
}

} // namespace

class TestBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void clientTools();
    void refusals_data();
    void refusals();
    void twoBridges();
    void awayAndBack();
    void lineGone_data();
    void lineGone();
    void login_data();
    void login();
    void burst();
    void discovery();
    void brokerLate();
    void tls();
    void brokerRestart();
    void cleanupTestCase();

private:
    // The shared bridge with line desk, raw and config allowed.
    bool waitOnline(const QString& prefix, const QString& line, MqttProbe& probe);

    Broker m_broker;
    Pty m_desk;
    std::unique_ptr<BridgeProcess> m_bridge;
    std::unique_ptr<MqttProbe> m_probe;
};

bool TestBridge::waitOnline(const QString& prefix, const QString& line, MqttProbe& probe)
{
    return probe.waitFor(prefix + "/bridge/status", "online", WaitMs) &&
           probe.waitFor(prefix + '/' + line + "/status", "online", WaitMs);
}

void TestBridge::initTestCase()
{
    if (!Broker::installed())
        QSKIP("mosquitto is not installed (scripts/install-deps.sh installs it)");
    QString why;
    QVERIFY2(m_broker.start(&why), qPrintable(why));
    QVERIFY(m_desk.isValid());
    m_probe = std::make_unique<MqttProbe>();
    QVERIFY2(m_probe->connect(m_broker.port(), {"quendra/#"}, &why), qPrintable(why));
    m_bridge = std::make_unique<BridgeProcess>(QStringList{
        "--broker", m_broker.url(), "--line", "desk=" + m_desk.devicePath() + "@9600,n,8,1",
        "--client-id", "desk", "--allow-raw", "--allow-config"});
    QVERIFY(m_bridge->start());
    QVERIFY2(waitOnline("quendra", "desk", *m_probe), m_bridge->output().constData());
}

void TestBridge::cleanupTestCase()
{
    if (m_bridge)
        m_bridge->stop();
}

void TestBridge::commands_data()
{
    QTest::addColumn<QString>("topic"); // under quendra/desk/
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("state"); // on the topic without /set; empty for none

    QTest::newRow("text") << "5/text/set" << QByteArray("HI")
                          << QByteArray::fromHex("0562202020204849") << QByteArray("HI");
    QTest::newRow("dp") << "5/dp/set" << QByteArray("63") << QByteArray::fromHex("05633f")
                        << QByteArray("63");
    QTest::newRow("long") << "5/long/set" << QByteArray("305419896")
                          << QByteArray::fromHex("056412345678") << QByteArray("305419896");
    QTest::newRow("long negative: signed code")
        << "7/long/set" << QByteArray("-2") << QByteArray::fromHex("0765fffffffe")
        << QByteArray("-2");
    QTest::newRow("short") << "5/short/set" << QByteArray("65535")
                           << QByteArray::fromHex("0566ffff") << QByteArray("65535");
    QTest::newRow("short negative: signed code")
        << "0/short/set" << QByteArray("-300") << QByteArray::fromHex("0067fed4")
        << QByteArray("-300");
    QTest::newRow("segments") << "255/segments/set" << QByteArray("3F 06 5B 4F 66 6D")
                              << QByteArray::fromHex("ff613f065b4f666d")
                              << QByteArray("3F 06 5B 4F 66 6D");
    QTest::newRow("brightness") << "5/brightness/set" << QByteArray("toggle")
                                << QByteArray::fromHex("056e") << QByteArray("toggle");
    QTest::newRow("raw") << "raw/set" << QByteArray("AA 00 BB") << QByteArray::fromHex("aa00bb")
                         << QByteArray();
    QTest::newRow("config") << "config/set" << QByteArray("38400 255")
                            << QByteArray::fromHex("1e1e09ff") << QByteArray();
}

void TestBridge::commands()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, state);
    m_probe->clear();
    QVERIFY(m_probe->publish("quendra/desk/" + topic, payload));
    QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), frame.toHex(' '));
    if (!state.isEmpty()) {
        // Live first, then kept: a dashboard that subscribes later sees it too.
        const QString stateTopic = "quendra/desk/" + topic.chopped(4);
        QVERIFY2(m_probe->waitFor(stateTopic, state, WaitMs), qPrintable(stateTopic));
        MqttProbe later;
        QString why;
        QVERIFY2(later.connect(m_broker.port(), {stateTopic}, &why), qPrintable(why));
        QVERIFY(later.waitFor(
            [&](const MqttProbe::Message& m) {
                return m.topic == stateTopic && m.payload == state && m.retained;
            },
            WaitMs));
    }
}

void TestBridge::clientTools()
{
    // The broker's own command-line clients, as an operator would use them.
    QProcess pub;
    pub.start("mosquitto_pub", {"-p", QString::number(m_broker.port()), "-q", "1", "-t",
                                "quendra/desk/5/text/set", "-m", "HI"});
    QVERIFY(pub.waitForFinished(WaitMs));
    QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), QByteArray("05 62 20 20 20 20 48 49"));
    QProcess sub;
    sub.start("mosquitto_sub", {"-p", QString::number(m_broker.port()), "-t", "quendra/desk/5/text",
                                "-C", "1", "-W", "10"});
    QVERIFY(sub.waitForFinished(WaitMs));
    QCOMPARE(sub.readAllStandardOutput(), QByteArray("HI\n"));
}

void TestBridge::refusals_data()
{
    QTest::addColumn<QString>("topic"); // under quendra/desk/
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("reason");

    QTest::newRow("UID 256") << "256/text/set" << QByteArray("HI") << "not a UID";
    QTest::newRow("unknown command") << "5/blink/set" << QByteArray("1") << "unknown command";
    QTest::newRow("1 MB payload") << "5/text/set" << QByteArray(1 << 20, 'X') << "1048576 bytes";
}

void TestBridge::refusals()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QString, reason);
    m_probe->clear();
    QVERIFY(m_probe->publish("quendra/desk/" + topic, payload));
    QJsonObject error;
    QVERIFY(m_probe->waitFor(
        [&](const MqttProbe::Message& m) {
            if (m.topic != "quendra/desk/error")
                return false;
            error = QJsonDocument::fromJson(m.payload).object();
            return true;
        },
        WaitMs));
    QCOMPARE(error.value("topic").toString(), "quendra/desk/" + topic);
    QCOMPARE(error.value("payload").toString().toUtf8(), payload.left(64));
    QVERIFY2(error.value("reason").toString().contains(reason),
             qPrintable(error.value("reason").toString()));
    QCOMPARE(m_desk.read(300).toHex(' '), QByteArray());
    // Still serving.
    QVERIFY(m_probe->publish("quendra/desk/1/dp/set", "1"));
    QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), QByteArray("01 63 01"));
}

void TestBridge::twoBridges()
{
    // A second bridge with its own line on the same broker: each takes only
    // the messages of its own line.
    Pty hall;
    BridgeProcess second(
        {"--broker", m_broker.url(), "--line", "hall=" + hall.devicePath(), "--client-id", "hall"});
    QVERIFY(second.start());
    QVERIFY2(m_probe->waitFor("quendra/hall/status", "online", WaitMs),
             second.output().constData());
    QVERIFY(m_probe->publish("quendra/hall/2/dp/set", "2"));
    QVERIFY(m_probe->publish("quendra/desk/3/dp/set", "3"));
    QCOMPARE(hall.read(WaitMs, 300).toHex(' '), QByteArray("02 63 02"));
    QCOMPARE(m_desk.read(WaitMs, 300).toHex(' '), QByteArray("03 63 03"));
}

void TestBridge::awayAndBack()
{
    // A retained command, left on the broker before the bridge came.
    QVERIFY(m_probe->publish("away/l/7/text/set", "OLD", 1, true));
    Pty line;
    const QStringList args{"--broker", m_broker.url(),           "--prefix",    "away",
                           "--line",   "l=" + line.devicePath(), "--client-id", "away"};
    MqttProbe probe;
    QString why;
    QVERIFY2(probe.connect(m_broker.port(), {"away/#"}, &why), qPrintable(why));
    {
        BridgeProcess first(args);
        QVERIFY(first.start());
        QVERIFY(waitOnline("away", "l", probe));
        // Replaying it would repeat an order given long ago.
        QVERIFY(probe.waitFor(
            [](const MqttProbe::Message& m) {
                return m.topic == "away/l/error" && m.payload.contains("retained");
            },
            WaitMs));
        QVERIFY(probe.publish("away/l/7/text/set", QByteArray(), 1, true));
        first.stop();
        QVERIFY(probe.waitFor("away/bridge/status", "offline", WaitMs));
    }
    QCOMPARE(line.read(300).toHex(' '), QByteArray());
    // QoS 1 while the bridge is away: the broker keeps it for its session.
    QVERIFY(probe.publish("away/l/5/text/set", "AWAY", 1));
    BridgeProcess back(args);
    QVERIFY(back.start());
    QCOMPARE(line.read(WaitMs, 1000).toHex(' '), QByteArray("05 62 20 20 41 57 41 59"));
}

void TestBridge::lineGone_data()
{
    QTest::addColumn<bool>("throughSer2net");
    QTest::newRow("pty closed") << false;
    if (Ser2net::installed())
        QTest::newRow("ser2net stopped") << true;
}

void TestBridge::lineGone()
{
    QFETCH(bool, throughSer2net);
    QTemporaryDir dir;
    // The line's name stays while the device behind it goes and comes back.
    const QString link = dir.filePath("line");
    auto pty = std::make_unique<Pty>();
    QVERIFY(QFile::link(pty->devicePath(), link));
    std::unique_ptr<Ser2net> server;
    QString port = link;
    QString why;
    if (throughSer2net) {
        server = std::make_unique<Ser2net>(link, Ser2net::Form::Socket);
        QVERIFY2(server->start(&why), qPrintable(why));
        port = server->portName();
    }
    MqttProbe probe;
    QVERIFY2(probe.connect(m_broker.port(), {"gone/#"}, &why), qPrintable(why));
    BridgeProcess bridge({"--broker", m_broker.url(), "--prefix", "gone", "--line", "l=" + port,
                          "--client-id", "gone"});
    QVERIFY(bridge.start());
    QVERIFY(waitOnline("gone", "l", probe));

    probe.clear();
    if (throughSer2net)
        server->stop();
    pty.reset();
    QFile::remove(link);
    // The line may notice only when it next writes.
    QVERIFY(probe.publish("gone/l/5/text/set", "BACK"));
    QVERIFY2(probe.waitFor("gone/l/status", "offline", WaitMs), bridge.output().constData());

    pty = std::make_unique<Pty>();
    QVERIFY(QFile::link(pty->devicePath(), link));
    if (throughSer2net)
        QVERIFY2(server->start(&why), qPrintable(why));
    QVERIFY2(probe.waitFor("gone/l/status", "online", 40000), bridge.output().constData());
    // The value the display missed goes out once the line is back.
    QCOMPARE(readUntilEnd(*pty, QByteArray::fromHex("05622020424143 4b"), WaitMs).toHex(' '),
             QByteArray("05 62 20 20 42 41 43 4b"));
    QVERIFY(probe.publish("gone/l/5/dp/set", "9"));
    QCOMPARE(pty->read(WaitMs, 200).toHex(' '), QByteArray("05 63 09"));
}

void TestBridge::login_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("exitCode"); // -1: keeps running
    QTest::newRow("right password") << "Sesame-4711" << -1;
    QTest::newRow("wrong password") << "Wrong-0815" << 4;
}

void TestBridge::login()
{
    QFETCH(QString, password);
    QFETCH(int, exitCode);
    Broker broker("plant", "Sesame-4711");
    QString why;
    QVERIFY2(broker.start(&why), qPrintable(why));
    QTemporaryDir dir;
    QFile credentials(dir.filePath("credentials"));
    QVERIFY(credentials.open(QIODevice::WriteOnly));
    credentials.write("[Credentials]\nUser=plant\nPassword=" + password.toUtf8() + "\n");
    credentials.close();
    Pty line;
    BridgeProcess bridge({"--broker", broker.url(), "--credentials", credentials.fileName(),
                          "--line", "l=" + line.devicePath(), "--client-id", "login"});
    QVERIFY(bridge.start());
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(bridge.process().processId()));
    QVERIFY(cmdline.open(QIODevice::ReadOnly));
    QVERIFY(!cmdline.readAll().contains(password.toUtf8()));
    if (exitCode < 0) {
        QDeadlineTimer deadline(WaitMs);
        while (!bridge.output().contains("connected to " + broker.url().toUtf8()) &&
               !deadline.hasExpired())
            bridge.process().waitForReadyRead(100);
        QVERIFY2(bridge.output().contains("connected"), bridge.output().constData());
        QCOMPARE(bridge.process().state(), QProcess::Running);
    } else {
        QVERIFY(bridge.process().waitForFinished(WaitMs));
        QCOMPARE(bridge.process().exitCode(), exitCode);
        const QByteArray output = bridge.output();
        QVERIFY2(output.contains(broker.url().toUtf8()), output.constData());
        QVERIFY2(output.contains("refused the login"), output.constData());
    }
    QVERIFY(!bridge.output().contains(password.toUtf8()));
}

void TestBridge::burst()
{
    // A line nobody reads, and 100,000 values for one module: only the newest
    // waits, so memory stays flat and the display ends at the last value.
    Pty line;
    MqttProbe probe;
    QString why;
    QVERIFY2(probe.connect(m_broker.port(), {"burst/l/status", "burst/l/status/detail"}, &why),
             qPrintable(why));
    BridgeProcess bridge({"--broker", m_broker.url(), "--prefix", "burst", "--line",
                          "l=" + line.devicePath(), "--client-id", "burst"});
    QVERIFY(bridge.start());
    QVERIFY(probe.waitFor("burst/l/status", "online", WaitMs));
    const qint64 before = bridge.peakRssKb();
    constexpr int Count = 100000;
    QList<QPair<QString, QByteArray>> messages;
    for (int i = 1; i <= Count; ++i)
        messages.append({"burst/l/5/text/set", QByteArray::number(i % 1000000)});
    probe.publishMany(messages);
    // The line stays stalled until most values have been made pointless by
    // newer ones.
    QVERIFY(probe.waitFor(
        [&](const MqttProbe::Message& m) {
            return m.topic == "burst/l/status/detail" &&
                   QJsonDocument::fromJson(m.payload).object().value("superseded").toInt() >
                       Count / 2;
        },
        60000));
    const QByteArray last = QByteArray::fromHex("0562") + QByteArray::number(Count);
    const QByteArray got = readUntilEnd(line, last, 120000);
    QCOMPARE(got.right(8).toHex(' '), last.toHex(' '));
    const qint64 after = bridge.peakRssKb();
    qInfo("quendra-bridge peak RSS: %lld kB before, %lld kB after %d messages; %lld bytes on the "
          "line",
          before, after, Count, qint64(got.size()));
#ifndef __SANITIZE_ADDRESS__
    // Under AddressSanitizer freed memory is held back and every allocation
    // carries a stack; the plain build's run is the one that counts here.
    QVERIFY2(after - before < qint64(16) * 1024, qPrintable(QString::number(after - before)));
#endif
}

void TestBridge::discovery()
{
    // Announced: a text and a number entity per module, kept by the broker;
    // a module taken off the list loses its entities.
    Pty line;
    MqttProbe probe;
    QString why;
    QVERIFY2(probe.connect(m_broker.port(), {"homeassistant/#"}, &why), qPrintable(why));
    const auto args = [&](const QString& modules) {
        return QStringList{"--broker",    m_broker.url(), "--line",      "l=" + line.devicePath(),
                           "--client-id", "ha",           "--discovery", "--modules",
                           modules};
    };
    auto bridge = std::make_unique<BridgeProcess>(args("l:1,2"));
    QVERIFY(bridge->start());
    const QString textTopic = "homeassistant/text/ha/l_2/config";
    QJsonObject text;
    QVERIFY(probe.waitFor(
        [&](const MqttProbe::Message& m) {
            text = QJsonDocument::fromJson(m.payload).object();
            return m.topic == textTopic;
        },
        WaitMs));
    QCOMPARE(text.value("command_topic").toString(), "quendra/l/2/text/set");
    QCOMPARE(text.value("state_topic").toString(), "quendra/l/2/text");
    QCOMPARE(text.value("max").toInt(), 6);
    QCOMPARE(text.value("availability").toArray().size(), 2);
    QCOMPARE(text.value("device").toObject().value("identifiers").toArray().first().toString(),
             "ha_l_2");

    bridge.reset();
    probe.clear();
    bridge = std::make_unique<BridgeProcess>(args("l:1"));
    QVERIFY(bridge->start());
    QVERIFY(probe.waitFor(textTopic, QByteArray(), WaitMs));
    QVERIFY(probe.waitFor("homeassistant/number/ha/l_2/config", QByteArray(), WaitMs));
}

void TestBridge::brokerLate()
{
    // Started before its broker: it keeps trying and serves once it is up.
    Broker late(QString(), QString(), Ser2net::freePort());
    Pty line;
    BridgeProcess bridge(
        {"--broker", late.url(), "--line", "l=" + line.devicePath(), "--client-id", "late"});
    QVERIFY(bridge.start());
    QDeadlineTimer deadline(WaitMs);
    while (!bridge.output().contains("no broker") && !deadline.hasExpired()) {
    }
    QVERIFY2(bridge.output().contains("no broker"), bridge.output().constData());
    QString why;
    QVERIFY2(late.start(&why), qPrintable(why));
    MqttProbe probe;
    QVERIFY2(probe.connect(late.port(), {"quendra/#"}, &why), qPrintable(why));
    QVERIFY2(waitOnline("quendra", "l", probe), bridge.output().constData());
    QVERIFY(probe.publish("quendra/l/5/dp/set", "5"));
    QCOMPARE(line.read(WaitMs, 200).toHex(' '), QByteArray("05 63 05"));
}

void TestBridge::tls()
{
    // mqtts:// to a broker whose certificate for 127.0.0.1 a test authority
    // signed; the bridge trusts that authority through --cafile only.
    if (QStandardPaths::findExecutable("openssl").isEmpty())
        QSKIP("openssl is not installed (scripts/install-deps.sh installs it)");
    QTemporaryDir dir;
    const auto openssl = [&](const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start("openssl", args);
        return p.waitForFinished(WaitMs) && p.exitCode() == 0;
    };
    QVERIFY(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                     "/CN=Quendra test authority", "-keyout", "ca.key", "-out", "ca.crt"}));
    QVERIFY(openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                     "server.key", "-out", "server.csr"}));
    QFile ext(dir.filePath("san.ext"));
    QVERIFY(ext.open(QIODevice::WriteOnly));
    ext.write("subjectAltName=IP:127.0.0.1\n");
    ext.close();
    QVERIFY(
        openssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                 "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out", "server.crt"}));
    Broker secure;
    secure.setListenerOptions("certfile " + dir.filePath("server.crt").toUtf8() + "\nkeyfile " +
                              dir.filePath("server.key").toUtf8() + "\n");
    QString why;
    QVERIFY2(secure.start(&why), qPrintable(why));
    Pty line;
    const QString url = QStringLiteral("mqtts://127.0.0.1:%1").arg(secure.port());
    BridgeProcess bridge({"--broker", url, "--cafile", dir.filePath("ca.crt"), "--line",
                          "l=" + line.devicePath(), "--client-id", "tls"});
    QVERIFY(bridge.start());
    QDeadlineTimer deadline(WaitMs);
    while (!bridge.output().contains("connected to " + url.toUtf8()) && !deadline.hasExpired()) {
    }
    QVERIFY2(bridge.output().contains("connected to " + url.toUtf8()), bridge.output().constData());
    QProcess pub;
    pub.start("mosquitto_pub",
              {"-h", "127.0.0.1", "-p", QString::number(secure.port()), "--cafile",
               dir.filePath("ca.crt"), "-q", "1", "-t", "quendra/l/5/dp/set", "-m", "7"});
    QVERIFY(pub.waitForFinished(WaitMs));
    QVERIFY2(pub.exitCode() == 0, pub.readAllStandardError().constData());
    QCOMPARE(line.read(WaitMs, 200).toHex(' '), QByteArray("05 63 07"));
}

void TestBridge::brokerRestart()
{
    // Last: every other row uses the broker as it first came up.
    QVERIFY(m_probe->publish("quendra/desk/4/text/set", "KEPT"));
    QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), QByteArray("04 62 20 20 4b 45 50 54"));
    m_probe.reset();
    m_broker.stop();
    QString why;
    QVERIFY2(m_broker.start(&why), qPrintable(why));
    MqttProbe probe;
    QVERIFY2(probe.connect(m_broker.port(), {"quendra/#"}, &why), qPrintable(why));
    // The broker kept nothing; the bridge says again what the line holds.
    QVERIFY2(waitOnline("quendra", "desk", probe), m_bridge->output().constData());
    QVERIFY(probe.waitFor("quendra/desk/4/text", "KEPT", WaitMs));
    QVERIFY(probe.publish("quendra/desk/5/text/set", "AGAIN"));
    QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), QByteArray("05 62 20 41 47 41 49 4e"));
}

QTEST_GUILESS_MAIN(TestBridge)
#include "tst_bridge.moc"
