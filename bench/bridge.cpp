// quendra-bench-bridge: a message published to a real Mosquitto broker on
// loopback, to the last byte of its frame at the far end of the bridge's
// pty line; then how many messages a second one line takes. Prints figures;
// asserts nothing.
//
// The broker and the built quendra-bridge run as children; the bench
// publishes through libmosquitto and a thread reads the pty's other end,
// stamping each byte as it becomes readable. Latency: 2,000 messages, each
// sent once the previous frame has arrived, alternately to two modules so
// that no value replaces another. Rate: 20,000 messages at once over 256
// modules; frames that reached the line and values superseded by newer ones.
// Burst: 10,000 QoS 1 messages at once over 5 modules, through a broker with
// Mosquitto's default queue limits and through one with a longer queue; the
// messages the bridge took (frames on the line and values superseded, as its
// status says) against those the broker says it dropped.
#include "bench/BenchSupport.h"
#include "tests/support/Broker.h"
#include "tests/support/Process.h"
#include "tests/support/Pty.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace bench;

constexpr int LatencyMessages = 2000;
constexpr int RateMessages = 20000;
constexpr int BurstMessages = 10000;
constexpr int BurstModules = 5;

void latency(MqttProbe& probe, FarEnd& far, int qos)
{
    std::vector<double> us;
    for (int i = 0; i < LatencyMessages; ++i) {
        const QString topic = QStringLiteral("bench/l/%1/text/set").arg(1 + i % 2);
        const qint64 start = nowNs();
        probe.publishMany({{topic, QByteArray::number(i % 1000)}}, qos);
        qint64 lastAt = 0;
        if (far.take(8, &lastAt).size() != 8)
            fatal(QStringLiteral("message %1 did not reach the line").arg(i));
        us.push_back(double(lastAt - start) / 1000.0);
    }
    std::printf("  QoS %d                                %8.1f  %8.1f  %8.1f\n", qos,
                percentile(us, 0.5), percentile(us, 0.99), percentile(us, 1.0));
}

// The bridge's count of values superseded, from the last status detail.
qint64 superseded(const MqttProbe& probe)
{
    qint64 count = -1;
    probe.waitFor(
        [&](const MqttProbe::Message& m) {
            if (m.topic.endsWith(QLatin1String("/status/detail")))
                count = QJsonDocument::fromJson(m.payload).object().value("superseded").toInteger();
            return false;
        },
        0);
    return count;
}

// The broker's own count of messages it dropped at its queue limits.
qint64 dropped(const MqttProbe& probe)
{
    qint64 count = 0;
    probe.waitFor(
        [&](const MqttProbe::Message& m) {
            if (m.topic == QLatin1String("$SYS/broker/publish/messages/dropped"))
                count = m.payload.toLongLong();
            return false;
        },
        0);
    return count;
}

// The burst: one publisher per module, all at once, as five machines of a
// plant would send, each with the QoS 1 window libmosquitto gives a client.
// The publishers go on sending what they hold until they are dropped.
std::vector<std::unique_ptr<MqttProbe>> publishBurst(quint16 port)
{
    std::vector<std::unique_ptr<MqttProbe>> publishers;
    QString why;
    for (int module = 1; module <= BurstModules; ++module) {
        publishers.push_back(std::make_unique<MqttProbe>());
        if (!publishers.back()->connect(port, {}, &why))
            fatal(why);
    }
    for (int module = 1; module <= BurstModules; ++module) {
        QList<QPair<QString, QByteArray>> messages;
        for (int i = 0; i < BurstMessages / BurstModules; ++i)
            messages.append(
                {QStringLiteral("burst/l/%1/text/set").arg(module), QByteArray::number(i)});
        publishers[size_t(module - 1)]->publishMany(messages, 1);
    }
    return publishers;
}

// A QoS 1 burst over five modules through a broker of its own with
// brokerOptions, once while the bridge is connected and once while it is
// away: what the bridge took and what the broker dropped.
void queueLimits(const char* label, const QByteArray& brokerOptions)
{
    Broker broker;
    broker.setListenerOptions("sys_interval 1\n" + brokerOptions);
    QString why;
    if (!broker.start(&why))
        fatal(why);
    Pty line;
    FarEnd far(line.masterFd());
    std::printf("  %-34s", label);
    for (const bool away : {false, true}) {
        MqttProbe probe;
        if (!probe.connect(
                broker.port(),
                {"burst/l/status", "burst/l/status/detail", "$SYS/broker/publish/messages/dropped"},
                &why))
            fatal(why);
        QProcess bridge;
        const auto startBridge = [&] {
            bridge.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            bridge.start(QStringLiteral(QUENDRA_BRIDGE_PATH),
                         {"--broker", broker.url(), "--prefix", "burst", "--client-id", "burst",
                          "--line", "l=" + line.devicePath() + "@38400,n,8,1"});
            if (!bridge.waitForStarted(10000) || !probe.waitFor("burst/l/status", "online", 20000))
                fatal(QStringLiteral("the bridge did not come online"));
        };
        startBridge();
        // The broker's count as it stood before; it says it every second.
        QThread::msleep(1500);
        const qint64 droppedBefore = dropped(probe);
        if (away) {
            bridge.terminate();
            bridge.waitForFinished(10000);
            probe.clear();
        }
        const auto publishers = publishBurst(broker.port());
        if (away) {
            // Once the broker has taken every message: what it keeps for the
            // bridge is decided then.
            for (const auto& publisher : publishers) {
                const QDeadlineTimer deadline(60000);
                while (publisher->acknowledged() < BurstMessages / BurstModules &&
                       !deadline.hasExpired())
                    QThread::msleep(10);
            }
            startBridge();
        }
        const qint64 frames = far.takeIdle(3000).size() / 8;
        // The status detail tells the superseded count within a second of its
        // last change, and the broker its drops every second.
        QThread::msleep(2500);
        const qint64 took = frames + superseded(probe);
        std::printf(" %7lld %7lld %6.1f %%", static_cast<long long>(took),
                    static_cast<long long>(dropped(probe) - droppedBefore),
                    100.0 * double(BurstMessages - took) / BurstMessages);
        bridge.terminate();
        bridge.waitForFinished(10000);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    setProgramName("quendra-bench-bridge");
    Broker broker;
    QString why;
    if (!broker.start(&why))
        fatal(why);
    Pty line;
    FarEnd far(line.masterFd());
    MqttProbe probe;
    if (!probe.connect(broker.port(), {"bench/l/status"}, &why))
        fatal(why);
    QProcess bridge;
    bridge.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bridge.start(QStringLiteral(QUENDRA_BRIDGE_PATH),
                 {"--broker", broker.url(), "--prefix", "bench", "--client-id", "bench", "--line",
                  "l=" + line.devicePath() + "@38400,n,8,1"});
    if (!bridge.waitForStarted(10000) || !probe.waitFor("bench/l/status", "online", 20000))
        fatal(QStringLiteral("the bridge did not come online"));

    std::printf("quendra-bench-bridge (%s build), load average at the start: %s\n\n",
                QUENDRA_BUILD_TYPE, qPrintable(loadAverage()));
    std::printf("%d text messages, one at a time, publish to the last byte read at the far pty\n"
                "(38400,n,8,1), broker and bridge on loopback\n"
                "                                      p50 us    p99 us    max us\n",
                LatencyMessages);
    latency(probe, far, 0);
    latency(probe, far, 1);

    QList<QPair<QString, QByteArray>> burst;
    for (int i = 0; i < RateMessages; ++i)
        burst.append({QStringLiteral("bench/l/%1/text/set").arg(i % 256), QByteArray::number(i)});
    const qint64 start = nowNs();
    probe.publishMany(burst);
    // Until the line has been quiet for a second; the last byte's stamp ends
    // the run.
    const qint64 bytes = far.takeIdle(1000).size();
    qint64 end = 0;
    far.take(0, &end);
    const qint64 frames = bytes / 8;
    const double seconds = double(end - start) / 1e9;
    std::printf("\n%d messages at once over 256 modules into one pty line\n"
                "  frames on the line                %8lld\n"
                "  values superseded by newer ones   %8lld\n"
                "  messages taken per second         %8.0f\n"
                "  frames written per second         %8.0f\n",
                RateMessages, static_cast<long long>(frames),
                static_cast<long long>(RateMessages - frames), RateMessages / seconds,
                double(frames) / seconds);
    std::printf("\nquendra-bridge peak RSS (VmHWM)     %8lld kB\n",
                static_cast<long long>(procStatusKb(bridge.processId(), "VmHWM")));

    std::printf("\n%d QoS 1 messages at once, one publisher for each of %d modules, broker and\n"
                "bridge on loopback; the bridge connected, then away while they are sent\n"
                "                                      connected:               away:\n"
                "  broker settings                      taken dropped   lost    taken dropped   "
                "lost\n",
                BurstMessages, BurstModules);
    queueLimits("defaults (queue 1000, inflight 20)", QByteArray());
    queueLimits("max_queued_messages 20000", "max_queued_messages 20000\n");
    queueLimits("max_queued_messages 0 (no limit)", "max_queued_messages 0\n");

    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
    bridge.terminate();
    bridge.waitForFinished(10000);
    return 0;
}
