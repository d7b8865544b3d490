// quendra-bench-web: the operator's page in Debian's Chromium against
// quendra-bridge, a real Mosquitto on loopback and a pty line. Two figures,
// 1,000 of each, one at a time: a click on a card's "Send text" to the last
// byte of its frame at the far pty, and a message published to the broker to
// the card's display showing it. Prints figures; asserts nothing.
//
// The browser is driven by tests/web/driver.mjs (playwright-core) in a node
// child. Both ends stamp with CLOCK_MONOTONIC: the driver just before the
// mouse goes down and when the page's observer sees the display change, the
// bench when it publishes and when each byte became readable at the pty.
#include "bench/BenchSupport.h"
#include "tests/support/Broker.h"
#include "tests/support/PageDriver.h"
#include "tests/support/Pty.h"
#include "tests/support/WebBridge.h"

#include <QCoreApplication>
#include <QJsonArray>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr int Samples = 1000;
const QList<QPair<QString, QString>> Card{{"region", "Line l"}, {"region", "Module 5"}};

QJsonObject must(const QJsonObject& answer)
{
    if (!answer.value("ok").toBool())
        fatal(QStringLiteral("the page: ") + answer.value("error").toString());
    return answer;
}

void report(const char* what, const std::vector<double>& ms)
{
    std::printf("  %-42s %8.2f  %8.2f  %8.2f\n", what, percentile(ms, 0.5), percentile(ms, 0.99),
                percentile(ms, 1));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    setProgramName("quendra-bench-web");
    QString why;
    Broker broker;
    if (!broker.start(&why))
        fatal(why);
    Pty line;
    FarEnd far(line.masterFd());
    MqttProbe probe;
    if (!probe.connect(broker.port(), {}, &why))
        fatal(why);
    WebBridge bridge({"--broker", broker.url(), "--client-id", "bench-web", "--line",
                      "l=" + line.devicePath() + "@38400,n,8,1", "--modules", "l:5"});
    if (!bridge.serving(20000, &why))
        fatal(why);
    PageDriver page;
    if (!page.start(&why))
        fatal(why);
    must(page.call("open", {{"url", bridge.url()}, {"width", 1200}, {"height", 900}}, 60000));
    must(page.call("waitText",
                   {{"role", "status"}, {"name", "Connection"}, {"prefix", "Connected"}}));

    std::printf("quendra-bench-web (%s build), load average at the start: %s\n\n",
                QUENDRA_BUILD_TYPE, qPrintable(loadAverage()));
    std::printf("%d of each, one at a time, in headless Chromium; the line at 38400,n,8,1,\n"
                "broker, bridge and browser on loopback\n"
                "                                               p50 ms    p99 ms    max ms\n",
                Samples);

    std::vector<double> clicks;
    QJsonObject field = PageDriver::control(Card, "textbox", "Text");
    const QJsonObject send = PageDriver::control(Card, "button", "Send text");
    for (int i = 0; i < Samples; ++i) {
        field.insert("value", QString::number(i % 1000));
        must(page.call("fill", field));
        const qint64 clicked =
            must(page.call("fastClick", send)).value("at").toString().toLongLong();
        qint64 lastAt = 0;
        if (far.take(8, &lastAt).size() != 8)
            fatal(QStringLiteral("click %1 did not reach the line").arg(i));
        clicks.push_back(double(lastAt - clicked) / 1e6);
    }
    report("click on \"Send text\" to the last byte", clicks);

    std::vector<double> shown;
    QString label = must(page.call("text", PageDriver::control(Card, "img", QString())))
                        .value("label")
                        .toString();
    for (int i = 0; i < Samples; ++i) {
        // Never the value it already shows.
        const QString value = QString::number(100000 + i);
        const QString next = QStringLiteral("Display: %1").arg(value);
        QJsonObject watch = PageDriver::control(Card, "img", label);
        watch.insert("label", next);
        must(page.call("watch", watch));
        const qint64 published = nowNs();
        probe.publishMany({{"quendra/l/5/text/set", value.toUtf8()}});
        const qint64 seen =
            must(page.call("seen", {{"label", next}})).value("at").toString().toLongLong();
        shown.push_back(double(seen - published) / 1e6);
        qint64 lastAt = 0;
        if (far.take(8, &lastAt).size() != 8)
            fatal(QStringLiteral("message %1 did not reach the line").arg(i));
        label = next;
    }
    report("MQTT publish to the card showing it", shown);
    std::printf("\nquendra-bridge peak RSS (VmHWM)               %8lld kB\n",
                static_cast<long long>(procStatusKb(bridge.processId(), "VmHWM")));
    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}
