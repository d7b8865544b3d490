// quendra-bridge as a process against a real Mosquitto broker started here,
// lines on pseudo-terminals and through ser2net.
#include "tests/support/Broker.h"
#include "tests/support/Process.h"
#include "tests/support/Pty.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/Ser2net.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WebBridge.h"

#include <QtTest>

#include <memory>

#include <csignal>
#include <sys/ioctl.h>

namespace {

constexpr int WaitMs = 15000;

// A bridge's words for one line named "l" on port, name its client id and prefix.
QStringList lineArgs(const QString& broker, const QString& port, const QString& name,
                     const QStringList& more = {})
{
    return QStringList{"--broker",    broker, "--line",   "l=" + port,
                       "--client-id", name,   "--prefix", name} +
           more;
}

// Bytes the far end of the pty holds, not yet read.
int unread(const Pty& pty)
{
    int n = 0;
    return ::ioctl(pty.masterFd(), FIONREAD, &n) == 0 ? n : -1;
}

// A stop leaves the device free for the next bridge.
bool nextBridgeOpens(const QString& broker, Pty& line, int openMs = WaitMs)
{
    BridgeProcess next(lineArgs(broker, line.devicePath(), "next"));
    return next.hasStarted() && next.says("line l: ") && next.says("line l: open on", openMs);
}

// A test authority NAME-authority.crt, and NAME-server.crt with its key: a
// certificate for 127.0.0.1 that the authority signed.
bool makeCertificates(const QTemporaryDir& dir, const QString& name)
{
    const auto openssl = [&](const QString& args) {
        return runToEnd("openssl", args.arg(dir.path(), name).split(' '), WaitMs).status == 0;
    };
    return openssl("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Quendra-test-authority "
                   "-keyout %1/%2-authority.key -out %1/%2-authority.crt") &&
           openssl("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
                   "subjectAltName=IP:127.0.0.1 -addext basicConstraints=critical,CA:FALSE -CA "
                   "%1/%2-authority.crt -CAkey %1/%2-authority.key -keyout %1/%2-server.key -out "
                   "%1/%2-server.crt");
}

QByteArray readUntilEnd(Pty& pty, const QByteArray& tail, int timeoutMs)
{
    QByteArray got;
    const QDeadlineTimer deadline(timeoutMs);
    while (!got.endsWith(tail) && !deadline.hasExpired())
        got += pty.read(100, 20);
    return got;
}

QJsonObject jsonOn(const MqttProbe& probe, const QString& topic, int timeoutMs = WaitMs)
{
    QJsonObject found;
    probe.waitFor(
        [&](const MqttProbe::Message& m) {
            if (m.topic == topic)
                found = QJsonDocument::fromJson(m.payload).object();
            return m.topic == topic;
        },
        timeoutMs);
    return found;
}

} // namespace

#define VERIFY_WHY(condition) QVERIFY2((condition), qPrintable(m_why))
// Fails the row with what the process has said unless condition holds.
#define VERIFY_SAID(condition, process) QVERIFY2((condition), (process).output().constData())

class TestBridge : public QObject
{
    Q_OBJECT

    QString m_why;
    Broker m_broker;
    Pty m_desk;
    // Stops before its broker: members go in reverse order.
    std::unique_ptr<BridgeProcess> m_bridge;
    std::unique_ptr<MqttProbe> m_probe;

    static bool online(BridgeProcess& bridge, const QString& prefix, MqttProbe& probe,
                       const QString& line = "l")
    {
        return bridge.hasStarted() && probe.waitFor(prefix + "/bridge/status", "online", WaitMs) &&
               probe.waitFor(prefix + '/' + line + "/status", "online", WaitMs);
    }

private slots:
    void initTestCase()
    {
        if (!Broker::installed())
            QSKIP("mosquitto is not installed (scripts/install-deps.sh installs it)");
        VERIFY_WHY(m_broker.start(&m_why));
        QVERIFY(m_desk.isValid());
        m_probe = std::make_unique<MqttProbe>();
        VERIFY_WHY(m_probe->connect(m_broker.port(), {"quendra/#"}, &m_why));
        m_bridge = std::make_unique<BridgeProcess>(QStringList{
            "--broker", m_broker.url(), "--line", "desk=" + m_desk.devicePath() + "@9600,n,8,1",
            "--client-id", "desk", "--allow-raw", "--allow-config"});
        VERIFY_SAID(online(*m_bridge, "quendra", *m_probe, "desk"), *m_bridge);
    }

    void commands_data()
    {
        QTest::addColumn<QString>("topic"); // under quendra/desk/
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("state"); // on the topic without /set; empty for none

        QTest::newRow("text") << "5/text/set" << QByteArray("HI")
                              << QByteArray::fromHex("0562202020204849") << QByteArray("HI");
        QTest::newRow("raw") << "raw/set" << QByteArray("AA 00 BB") << QByteArray::fromHex("aa00bb")
                             << QByteArray();
        QTest::newRow("config") << "config/set" << QByteArray("38400 255")
                                << QByteArray::fromHex("1e1e09ff") << QByteArray();
    }
    void commands()
    {
        QFETCH(QString, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, state);
        m_probe->clear();
        QVERIFY(m_probe->publish("quendra/desk/" + topic, payload));
        QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), frame.toHex(' '));
        if (state.isEmpty())
            return;
        const QString stateTopic = "quendra/desk/" + topic.chopped(4);
        QVERIFY2(m_probe->waitFor(stateTopic, state, WaitMs), qPrintable(stateTopic));
        MqttProbe later;
        VERIFY_WHY(later.connect(m_broker.port(), {stateTopic}, &m_why));
        QVERIFY(later.waitFor(
            [&](const MqttProbe::Message& m) {
                return m.topic == stateTopic && m.payload == state && m.retained;
            },
            WaitMs));
    }

    void refusal()
    {
        const QByteArray payload(1 << 20, 'X');
        m_probe->clear();
        QVERIFY(m_probe->publish("quendra/desk/5/text/set", payload));
        const QJsonObject error = jsonOn(*m_probe, "quendra/desk/error");
        QCOMPARE(error.value("topic").toString(), "quendra/desk/5/text/set");
        QCOMPARE(error.value("payload").toString().toUtf8(), payload.left(64));
        QVERIFY2(error.value("reason").toString().contains("1048576 bytes"),
                 qPrintable(error.value("reason").toString()));
        QCOMPARE(m_desk.read(300).toHex(' '), QByteArray());
        QVERIFY(m_probe->publish("quendra/desk/1/dp/set", "1"));
        QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), QByteArray("01 63 01"));
    }

    void twoBridges()
    {
        // Each bridge takes only the messages of its own line.
        Pty hall;
        BridgeProcess second({"--broker", m_broker.url(), "--line", "hall=" + hall.devicePath(),
                              "--client-id", "hall"});
        QVERIFY(second.hasStarted());
        VERIFY_SAID(m_probe->waitFor("quendra/hall/status", "online", WaitMs), second);
        QVERIFY(m_probe->publish("quendra/hall/2/dp/set", "2"));
        QVERIFY(m_probe->publish("quendra/desk/3/dp/set", "3"));
        QCOMPARE(hall.read(WaitMs, 300).toHex(' '), QByteArray("02 63 02"));
        QCOMPARE(m_desk.read(WaitMs, 300).toHex(' '), QByteArray("03 63 03"));
    }

    // A retained command is refused, kept from before or live; clearing it is
    // no command and no error. QoS 1 while the bridge is away waits for it.
    void retained()
    {
        QVERIFY(m_probe->publish("away/l/7/text/set", "OLD", 1, true));
        Pty line;
        const QStringList args = lineArgs(m_broker.url(), line.devicePath(), "away");
        MqttProbe probe;
        VERIFY_WHY(probe.connect(m_broker.port(), {"away/#"}, &m_why));
        {
            BridgeProcess first(args);
            QVERIFY(online(first, "away", probe));
            QVERIFY(jsonOn(probe, "away/l/error").value("reason").toString().contains("retained"));
            QVERIFY(probe.publish("away/l/7/text/set", QByteArray(), 1, true));
            probe.clear();
            QVERIFY(probe.publish("away/l/6/text/set", "LIVE", 1, true));
            QVERIFY(jsonOn(probe, "away/l/error").value("reason").toString().contains("retained"));
            probe.clear();
            QVERIFY(probe.publish("away/l/6/text/set", QByteArray(), 1, true));
            QVERIFY(probe.publish("away/l/6/dp/set", "6"));
            QCOMPARE(line.read(WaitMs, 200).toHex(' '), QByteArray("06 63 06"));
            QVERIFY(jsonOn(probe, "away/l/error", 0).isEmpty());
            first.stop();
            QVERIFY(probe.waitFor("away/bridge/status", "offline", WaitMs));
        }
        QCOMPARE(line.read(300).toHex(' '), QByteArray());
        QVERIFY(probe.publish("away/l/5/text/set", "AWAY", 1));
        BridgeProcess back(args);
        QVERIFY(back.hasStarted());
        QCOMPARE(line.read(WaitMs, 1000).toHex(' '), QByteArray("05 62 20 20 41 57 41 59"));
    }

    void lineGone_data()
    {
        QTest::addColumn<bool>("throughSer2net");
        QTest::newRow("pty closed") << false;
        if (Ser2net::installed())
            QTest::newRow("ser2net stopped") << true;
    }
    void lineGone()
    {
        QFETCH(bool, throughSer2net);
        QTemporaryDir dir;
        const QString link = dir.filePath("line");
        auto pty = std::make_unique<Pty>();
        QVERIFY(QFile::link(pty->devicePath(), link));
        std::unique_ptr<Ser2net> server;
        QString port = link;
        if (throughSer2net) {
            server = std::make_unique<Ser2net>(link, Ser2net::Form::Socket);
            VERIFY_WHY(server->start(&m_why));
            port = server->portName();
        }
        MqttProbe probe;
        VERIFY_WHY(probe.connect(m_broker.port(), {"gone/#"}, &m_why));
        BridgeProcess bridge(lineArgs(m_broker.url(), port, "gone"));
        QVERIFY(online(bridge, "gone", probe));

        probe.clear();
        if (throughSer2net)
            server->stop();
        pty.reset();
        QFile::remove(link);
        // The line may notice only when it next writes.
        QVERIFY(probe.publish("gone/l/5/text/set", "BACK"));
        VERIFY_SAID(probe.waitFor("gone/l/status", "offline", WaitMs), bridge);

        pty = std::make_unique<Pty>();
        QVERIFY(QFile::link(pty->devicePath(), link));
        if (throughSer2net)
            VERIFY_WHY(server->start(&m_why));
        VERIFY_SAID(probe.waitFor("gone/l/status", "online", 40000), bridge);
        QCOMPARE(readUntilEnd(*pty, QByteArray::fromHex("05622020424143 4b"), WaitMs).toHex(' '),
                 QByteArray("05 62 20 20 42 41 43 4b"));
        QVERIFY(probe.publish("gone/l/5/dp/set", "9"));
        QCOMPARE(pty->read(WaitMs, 200).toHex(' '), QByteArray("05 63 09"));
    }

    void login_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<int>("exitCode"); // -1: keeps running
        QTest::newRow("right password") << QByteArray("Sesame-0x5ec12e7") << -1;
        QTest::newRow("wrong password") << QByteArray("Wrong-0815") << 4;
    }
    // The password goes nowhere but into the login, whatever the bridge does.
    void login()
    {
        QFETCH(QByteArray, password);
        QFETCH(int, exitCode);
        const Watchdog dog(60000);
        Broker broker("plant", "Sesame-0x5ec12e7");
        VERIFY_WHY(broker.start(&m_why));
        MqttProbe everything;
        VERIFY_WHY(everything.connect(broker.port(), {"#"}, &m_why, "plant", "Sesame-0x5ec12e7"));
        QTemporaryDir dir;
        Pty line;
        BridgeProcess bridge(lineArgs(broker.url(), line.devicePath(), "secret",
                                      {"--credentials",
                                       writeFile(dir.filePath("credentials"),
                                                 "[Credentials]\nUser=plant\nPassword=" + password),
                                       "--discovery", "--modules", "l:1"}));
        QVERIFY(bridge.hasStarted());
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(bridge.processId()));
        QVERIFY(cmdline.open(QIODevice::ReadOnly) && !cmdline.readAll().contains(password));
        if (exitCode < 0) {
            VERIFY_SAID(online(bridge, "secret", everything), bridge);
            QVERIFY(bridge.output().contains("connected to " + broker.url().toUtf8()));
            QVERIFY(everything.publish("secret/l/1/text/set", "HI"));
            QVERIFY(everything.publish("secret/l/1/long/set", "not a number"));
            QVERIFY(everything.waitFor("secret/l/1/text", "HI", WaitMs));
            ::kill(pid_t(bridge.processId()), SIGTERM);
            QVERIFY(bridge.waitForFinished(WaitMs) && bridge.exitStatus() == QProcess::NormalExit);
            QVERIFY(everything.waitFor("secret/bridge/status", "offline", WaitMs));
        } else {
            QVERIFY(bridge.waitForFinished(WaitMs));
            QCOMPARE(bridge.exitCode(), exitCode);
            const QByteArray output = bridge.output();
            VERIFY_SAID(output.contains(broker.url().toUtf8()) &&
                            output.contains("refused the login"),
                        bridge);
        }
        VERIFY_SAID(!bridge.output().contains(password), bridge);
        QVERIFY(!everything.waitFor(
            [&](const MqttProbe::Message& m) {
                return m.topic.toUtf8().contains(password) || m.payload.contains(password);
            },
            0));
    }

    void burst()
    {
        // A line nobody reads: only the newest of 100,000 values waits.
        Pty line;
        MqttProbe probe;
        VERIFY_WHY(
            probe.connect(m_broker.port(), {"burst/l/status", "burst/l/status/detail"}, &m_why));
        BridgeProcess bridge(lineArgs(m_broker.url(), line.devicePath(), "burst"));
        QVERIFY(bridge.hasStarted());
        QVERIFY(probe.waitFor("burst/l/status", "online", WaitMs));
        [[maybe_unused]] const qint64 before = procStatusKb(bridge.processId(), "VmHWM");
        constexpr int Count = 100000;
        QList<QPair<QString, QByteArray>> messages;
        for (int i = 1; i <= Count; ++i)
            messages.append({"burst/l/5/text/set", QByteArray::number(i)});
        probe.publishMany(messages);
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
        [[maybe_unused]] const qint64 after = procStatusKb(bridge.processId(), "VmHWM");
#ifndef __SANITIZE_ADDRESS__ // which holds freed memory back
        QVERIFY2(after - before < qint64(16) * 1024, qPrintable(QString::number(after - before)));
#endif
    }

    void discovery()
    {
        // A module taken off the list loses its entities.
        Pty line;
        MqttProbe probe;
        VERIFY_WHY(probe.connect(m_broker.port(), {"homeassistant/#"}, &m_why));
        const auto args = [&](const QString& modules) {
            return lineArgs(m_broker.url(), line.devicePath(), "ha",
                            {"--discovery", "--modules", modules});
        };
        auto bridge = std::make_unique<BridgeProcess>(args("l:1,2"));
        QVERIFY(bridge->hasStarted());
        const QString textTopic = "homeassistant/text/ha/l_2/config";
        const QJsonObject text = jsonOn(probe, textTopic);
        QCOMPARE(text.value("command_topic").toString(), "ha/l/2/text/set");
        QCOMPARE(text.value("state_topic").toString(), "ha/l/2/text");
        QCOMPARE(text.value("max").toInt(), 6);

        bridge.reset();
        probe.clear();
        bridge = std::make_unique<BridgeProcess>(args("l:1"));
        QVERIFY(bridge->hasStarted());
        QVERIFY(probe.waitFor(textTopic, QByteArray(), WaitMs));
        QVERIFY(probe.waitFor("homeassistant/number/ha/l_2/config", QByteArray(), WaitMs));
    }

    void stops_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("boundMs"); // from the signal to the end

        QTest::newRow("SIGHUP while serving") << SIGHUP << "serving" << 5000;
        QTest::newRow("SIGTERM during a frame") << SIGTERM << "frame" << 10000;
        QTest::newRow("SIGINT while the broker is down") << SIGINT << "broker down" << 5000;
        QTest::newRow("SIGTERM during the connection wait") << SIGTERM << "connection wait" << 5000;
        // Gone without a word: the broker's will says offline, and the dead
        // bridge's claim on the pty is stale, so the next one opens it at once.
        QTest::newRow("kill -9 while serving") << SIGKILL << "serving" << 5000;
    }
    void stops()
    {
        QFETCH(int, signal);
        QFETCH(QString, when);
        QFETCH(int, boundMs);
        const Watchdog dog(60000);
        Pty line;
        Broker own(QString(), QString(), Ser2net::freePort());
        ScriptedServer silent("plain");
        QString url = m_broker.url();
        if (when == "broker down") {
            VERIFY_WHY(own.start(&m_why));
            url = own.url();
        } else if (when == "connection wait") {
            url = QStringLiteral("mqtt://127.0.0.1:%1").arg(silent.port());
        }
        const bool served = when == "serving" || when == "frame";
        MqttProbe probe;
        VERIFY_WHY(probe.connect(m_broker.port(), {"stop/#"}, &m_why));
        BridgeProcess bridge(lineArgs(url, line.devicePath(), "stop", {"--allow-raw"}));
        VERIFY_SAID(bridge.hasStarted() && bridge.says("line l: open on"), bridge);
        if (served)
            VERIFY_SAID(online(bridge, "stop", probe), bridge);
        // More 85-byte frames of one byte value each than the pty holds.
        constexpr int FrameBytes = 85;
        if (when == "frame") {
            QList<QPair<QString, QByteArray>> frames;
            for (int i = 0; i < 400; ++i)
                frames.append({"stop/l/raw/set", QByteArray(FrameBytes, char(i)).toHex(' ')});
            probe.publishMany(frames, 1);
            VERIFY_SAID(pollUntil(WaitMs, [&] { return unread(line) >= 4000; }), bridge);
        } else if (when == "broker down") {
            VERIFY_SAID(bridge.says("connected to " + url.toUtf8()), bridge);
            own.stop();
            VERIFY_SAID(bridge.says("lost the broker"), bridge);
        } else if (when == "connection wait") {
            // Not left to libmosquitto's "Unknown error".
            VERIFY_SAID(bridge.says(url.toUtf8() +
                                        " took the connection but gave no answer in 5 s; "
                                        "trying again in 1 s",
                                    12000),
                        bridge);
            const qsizetype first = silent.received().size();
            QVERIFY(pollUntil(WaitMs, [&] { return silent.received().size() > first; }));
        }

        probe.clear();
        ::kill(pid_t(bridge.processId()), signal);
        // Read on during a frame, so that the frame being written can finish.
        QByteArray got = when == "frame" ? line.read(WaitMs, 500) : QByteArray();
        VERIFY_SAID(bridge.waitForFinished(boundMs), bridge);
        if (signal == SIGKILL) {
            QVERIFY(probe.waitFor("stop/bridge/status", "offline", WaitMs));
            QVERIFY(nextBridgeOpens(m_broker.url(), line, 3000));
            return;
        }
        VERIFY_SAID(bridge.exitStatus() == QProcess::NormalExit, bridge);
        QCOMPARE(bridge.exitCode(), 128 + signal);
        const QByteArray output = bridge.output();
        const QByteArray name = signal == SIGHUP   ? "SIGHUP"
                                : signal == SIGINT ? "SIGINT"
                                                   : "SIGTERM";
        QVERIFY2(output.contains("stopped by " + name) && output.contains("line l: closed"),
                 output.constData());
        if (when == "frame") {
            got += line.read(200, 100);
            QVERIFY(!got.isEmpty());
            QCOMPARE(got.size() % FrameBytes, 0);
            for (qsizetype at = 0; at < got.size(); at += FrameBytes)
                QCOMPARE(got.mid(at, FrameBytes), QByteArray(FrameBytes, got.at(at)));
        }
        if (served) {
            QVERIFY2(output.contains("every line and the bridge said offline"), output.constData());
            MqttProbe later;
            VERIFY_WHY(
                later.connect(m_broker.port(), {"stop/+/status", "stop/l/status/detail"}, &m_why));
            QVERIFY(later.waitFor("stop/bridge/status", "offline", WaitMs));
            QVERIFY(later.waitFor("stop/l/status", "offline", WaitMs));
            QCOMPARE(jsonOn(later, "stop/l/status/detail").value("reason"), "the bridge stopped");
        } else {
            QVERIFY2(output.contains("not connected to " + url.toUtf8()), output.constData());
        }
        QVERIFY2(nextBridgeOpens(m_broker.url(), line), qPrintable(when));
    }

    void clientIds()
    {
        // One line name under two prefixes: the default ids differ. One id
        // given to two bridges: each says who took its session.
        const Watchdog dog(60000);
        Pty a;
        Pty b;
        Pty c;
        Pty d;
        MqttProbe probe;
        VERIFY_WHY(probe.connect(m_broker.port(), {"plant-a/#", "plant-b/#"}, &m_why));
        const auto args = [&](Pty& line, const char* prefix, const QStringList& more = {}) {
            return QStringList{"--broker", m_broker.url(), "--line", "l=" + line.devicePath(),
                               "--prefix", prefix} +
                   more;
        };
        BridgeProcess first(args(a, "plant-a"));
        BridgeProcess second(args(b, "plant-b"));
        QVERIFY(online(first, "plant-a", probe) && online(second, "plant-b", probe));
        BridgeProcess third(args(c, "x", {"--client-id", "shared"}));
        BridgeProcess fourth(args(d, "y", {"--client-id", "shared"}));
        QVERIFY(third.hasStarted() && fourth.hasStarted());
        for (BridgeProcess* bridge : {&third, &fourth})
            VERIFY_SAID(bridge->says("another client with id shared took the session"), *bridge);
        for (BridgeProcess* bridge : {&first, &second})
            VERIFY_SAID(!bridge->output().contains("lost the broker"), *bridge);
    }

    void reconnection()
    {
        // A server that resets every connection: tried about every second,
        // not after 1, 4, 9 s; then none there; then the broker itself.
        const Watchdog dog(60000);
        Pty line;
        auto door = std::make_unique<ScriptedServer>("plain reset");
        const quint16 port = door->port();
        BridgeProcess bridge(
            lineArgs(QStringLiteral("mqtt://127.0.0.1:%1").arg(port), line.devicePath(), "again"));
        QVERIFY(bridge.hasStarted());
        // Two connections a try: the bridge's own look at the port, then libmosquitto's.
        QVERIFY2(pollUntil(9000, [&] { return door->clients() >= 8; }),
                 qPrintable(QString::number(door->clients())));
        door.reset();
        VERIFY_SAID(bridge.says("Connection refused", WaitMs, bridge.output().size()), bridge);
        Broker back(QString(), QString(), port);
        VERIFY_WHY(back.start(&m_why));
        MqttProbe probe;
        VERIFY_WHY(probe.connect(port, {"again/#"}, &m_why));
        VERIFY_SAID(probe.waitFor("again/bridge/status", "online", 4000), bridge);
        QVERIFY(probe.waitFor("again/l/status", "online", WaitMs));
        QVERIFY(probe.publish("again/l/5/dp/set", "5"));
        QCOMPARE(line.read(WaitMs, 200).toHex(' '), QByteArray("05 63 05"));
    }

    void tls_data()
    {
        // The broker: "ca" has a certificate for 127.0.0.1 that the authority
        // given by --cafile signed; "plain" speaks no TLS; "other" has one that
        // another authority signed; "localhost" is ca's, reached by a name it
        // is not for (localhost leads to 127.0.0.1).
        QTest::addColumn<QString>("broker");
        QTest::addColumn<QString>("said");

        const auto row = [](const char* name, const char* broker, const char* said) {
            QTest::newRow(name) << QString(broker) << QString(said);
        };
        row("trusted", "ca", "connected to mqtts://127.0.0.1:");
        row("not TLS at all", "plain", "it does not speak TLS on this port");
        row("certificate not trusted", "other", "certificate is not trusted");
        row("certificate for another host", "localhost", "is not for localhost");
    }
    void tls()
    {
        QFETCH(QString, broker);
        QFETCH(QString, said);
        if (QStandardPaths::findExecutable("openssl").isEmpty())
            QSKIP("openssl is not installed (scripts/install-deps.sh installs it)");
        const Watchdog dog(60000);
        QTemporaryDir dir;
        QVERIFY(makeCertificates(dir, "ca") && makeCertificates(dir, "other"));
        Broker secure;
        const QString certificate = broker == "other" ? "other" : "ca";
        if (broker != "plain")
            secure.setListenerOptions(
                "certfile " + dir.filePath(certificate + "-server.crt").toUtf8() + "\nkeyfile " +
                dir.filePath(certificate + "-server.key").toUtf8() + "\n");
        VERIFY_WHY(secure.start(&m_why));
        Pty line;
        const QString host = broker == "localhost" ? "localhost" : "127.0.0.1";
        const QString authority = dir.filePath("ca-authority.crt");
        BridgeProcess bridge(lineArgs(QStringLiteral("mqtts://%1:%2").arg(host).arg(secure.port()),
                                      line.devicePath(), "tls", {"--cafile", authority}));
        VERIFY_SAID(bridge.hasStarted() && bridge.says(said.toUtf8()), bridge);
        QCOMPARE(bridge.state(), QProcess::Running);
        if (broker != "ca")
            return;
        const Finished pub =
            runToEnd("mosquitto_pub",
                     {"-h", "127.0.0.1", "-p", QString::number(secure.port()), "--cafile",
                      authority, "-q", "1", "-t", "tls/l/5/dp/set", "-m", "7"},
                     WaitMs);
        QVERIFY2(pub.status == 0, pub.err.constData());
        QCOMPARE(line.read(WaitMs, 200).toHex(' '), QByteArray("05 63 07"));
    }

    void brokerRestart()
    {
        // Last: every other row uses the broker as it first came up.
        QVERIFY(m_probe->publish("quendra/desk/4/text/set", "KEPT"));
        QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), QByteArray("04 62 20 20 4b 45 50 54"));
        m_probe.reset();
        m_broker.stop();
        VERIFY_WHY(m_broker.start(&m_why));
        MqttProbe probe;
        VERIFY_WHY(probe.connect(m_broker.port(), {"quendra/#"}, &m_why));
        // The broker kept nothing; the bridge says again what the line holds.
        VERIFY_SAID(online(*m_bridge, "quendra", probe, "desk"), *m_bridge);
        QVERIFY(probe.waitFor("quendra/desk/4/text", "KEPT", WaitMs));
        QVERIFY(probe.publish("quendra/desk/5/text/set", "AGAIN"));
        QCOMPARE(m_desk.read(WaitMs, 200).toHex(' '), QByteArray("05 62 20 41 47 41 49 4e"));
    }
};

QTEST_GUILESS_MAIN(TestBridge)
#include "tst_bridge.moc"
