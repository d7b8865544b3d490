#include "common/CommandLine.h"
#include "common/StopSignals.h"
#include "serial/LineSettings.h"
#include "settings/Startup.h"
#include "tools/bridge/Bridge.h"
#include "tools/bridge/WebServer.h"

#include <QCoreApplication>
#include <QSysInfo>

#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {

// Help or version shown; options, settings or credentials refused; the
// broker refused the login or the client could not be set up. A stop signal
// ends the bridge with 128 + the signal.
constexpr int Stopped = cli::Success;
constexpr int BadUsage = cli::BadUsage;
constexpr int BrokerRefused = cli::BrokerRefused;

// The stop signals, held back from the threads started while they are
// blocked: a line's thread woken by one in the middle of a write would cut
// the frame short. The main thread takes them.
class StopSignalsToMainThread
{
public:
    StopSignalsToMainThread()
    {
        sigset_t stops;
        sigemptyset(&stops);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&stops, signal);
        pthread_sigmask(SIG_BLOCK, &stops, &m_before);
    }
    ~StopSignalsToMainThread() { pthread_sigmask(SIG_SETMASK, &m_before, nullptr); }
    StopSignalsToMainThread(const StopSignalsToMainThread&) = delete;
    StopSignalsToMainThread& operator=(const StopSignalsToMainThread&) = delete;

private:
    sigset_t m_before;
};

// What a stop did, in one line: the lines said their own words as they
// closed. broker is empty for a bridge that drives its lines from its page
// alone.
void sayStopped(int signal, bool saidOffline, const QString& broker)
{
    std::fprintf(
        stderr, "quendra-bridge: stopped by %s: %s\n", qPrintable(stop::signalName(signal)),
        broker.isEmpty() ? "every line closed"
        : saidOffline ? qPrintable(QStringLiteral("every line and the bridge said offline at %1, "
                                                  "then disconnected")
                                       .arg(broker))
                      : qPrintable(QStringLiteral("not connected to %1: the broker keeps the "
                                                  "status it last had")
                                       .arg(broker)));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quendra-bridge"));
    stop::install();
    std::signal(SIGPIPE, SIG_IGN);

    const modINI::StartupSettings ini = modINI::ReadStartupSettings();
    const QString lineSettings =
        ini.settings.isEmpty() ? QString::fromLatin1(DefaultLineSettings) : ini.settings;
    const Checked<bridge::Config> config =
        bridge::parseOptions(app.arguments().mid(1), lineSettings);
    if (!config) {
        std::fprintf(stderr, "quendra-bridge: %s\n", qPrintable(config.message()));
        return BadUsage;
    }
    if (config->help) {
        std::fputs(qPrintable(bridge::helpText()), stdout);
        return Stopped;
    }
    if (config->version) {
        std::fputs(qPrintable(cli::versionLine("quendra-bridge")), stdout);
        return Stopped;
    }
    if (const Checked<void> distinct = bridge::distinctTargets(config->lines, ini.ports);
        !distinct) {
        std::fprintf(stderr, "quendra-bridge: %s\n", qPrintable(distinct.message()));
        return BadUsage;
    }
    for (const QString& warning : bridge::configWarnings(*config))
        std::fprintf(stderr, "quendra-bridge: %s\n", qPrintable(warning));

    Mqtt::Settings broker;
    broker.host = config->host;
    broker.port = config->port;
    broker.tls = config->tls;
    broker.caFile = config->caFile;
    broker.clientId = config->clientId.isEmpty()
                          ? bridge::defaultClientId(*config, QSysInfo::machineHostName())
                          : config->clientId;
    if (!config->credentialsFile.isEmpty()) {
        const Checked<bridge::Credentials> login = bridge::readCredentials(config->credentialsFile);
        if (!login) {
            std::fprintf(stderr, "quendra-bridge: %s\n", qPrintable(login.message()));
            return BadUsage;
        }
        broker.user = login->user;
        broker.password = login->password;
    }

    // SIGINT, SIGTERM and SIGHUP end the bridge as cleanly as anything: the
    // lines finish their frames and close, and the broker hears "offline"
    // for each of them and for the bridge.
    QObject::connect(&stop::StopSignals::instance(), &stop::StopSignals::stopRequested, &app,
                     [](int) { QCoreApplication::exit(Stopped); });

    bridge::Bridge bridge(*config, broker, ini.ports);
    QObject::connect(&bridge, &bridge::Bridge::refused, &app,
                     [](const QString&) { QCoreApplication::exit(BrokerRefused); });
    // The operator's page, when --web says where; it hears the lines from
    // their first word.
    std::unique_ptr<bridge::WebServer> web;
    if (!config->web.address.isNull()) {
        web = std::make_unique<bridge::WebServer>(bridge, config->web);
        if (const Checked<void> served = web->start(); !served) {
            std::fprintf(stderr, "quendra-bridge: %s\n", qPrintable(served.message()));
            return BadUsage;
        }
    }
    {
        const StopSignalsToMainThread held;
        if (const Checked<void> started = bridge.start(); !started) {
            std::fprintf(stderr, "quendra-bridge: %s\n", qPrintable(started.message()));
            return BrokerRefused;
        }
    }
    const int status = app.exec();
    const bool saidOffline = bridge.stop();
    if (stop::requested())
        sayStopped(stop::received(), saidOffline, config->broker ? bridge.brokerName() : QString());
    return stop::exitStatus(status);
}
