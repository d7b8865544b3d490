#include "serial/LineSettings.h"
#include "settings/Startup.h"
#include "tools/bridge/Bridge.h"
#include "tools/bridge/WebServer.h"
#include "common/CommandLine.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QSysInfo>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// Stopped by a signal; options, settings or credentials refused; the broker
// refused the login or the client could not be set up.
constexpr int Stopped = cli::Success;
constexpr int BadUsage = cli::BadUsage;
constexpr int BrokerRefused = cli::BrokerRefused;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quendra-bridge"));

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

    // SIGTERM and SIGINT end the bridge cleanly: the lines finish their
    // frames and the broker hears "offline" from the bridge itself.
    if (::pipe(signalPipe) != 0)
        return BadUsage;
    QSocketNotifier stopper(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &app,
                     [] { QCoreApplication::exit(Stopped); });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

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
    if (const Checked<void> started = bridge.start(); !started) {
        std::fprintf(stderr, "quendra-bridge: %s\n", qPrintable(started.message()));
        return BrokerRefused;
    }
    const int status = app.exec();
    bridge.stop();
    return status;
}
