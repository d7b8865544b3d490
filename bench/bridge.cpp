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
#include "bench/BenchSupport.h"
#include "tests/support/Broker.h"
#include "tests/support/Process.h"
#include "tests/support/Pty.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr int LatencyMessages = 2000;
constexpr int RateMessages = 20000;

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
    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
    bridge.terminate();
    bridge.waitForFinished(10000);
    return 0;
}
