#include "common/CommandLine.h"
#include "common/StopSignals.h"
#include "protocol/printable.h"
#include "tools/emulator/Emulator.h"
#include "tools/emulator/EmulatorWindow.h"
#include "tools/emulator/ModuleBus.h"
#include "tools/emulator/Options.h"

#include <QApplication>

#include <cstdio>
#include <memory>

namespace {

int fail(const QString& message, int status = cli::BadUsage)
{
    // The message may quote a device name or an option's value as given.
    std::fprintf(stderr, "quendra-emulator: %s\n", qPrintable(protocol::printable(message)));
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const Checked<EmulatorOptions> options = parseEmulatorOptions(arguments);
    if (!options)
        return fail(options.message());
    if (options->mode == EmulatorOptions::Help) {
        std::printf("%s", qPrintable(emulatorHelp()));
        return cli::Success;
    }
    if (options->mode == EmulatorOptions::Version) {
        std::printf("%s", qPrintable(cli::versionLine("quendra-emulator")));
        return cli::Success;
    }

    std::unique_ptr<QCoreApplication> app;
    if (options->headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quendra-emulator"));
    // A stop ends the event loop the same way as the window's close, so that
    // the link is removed and the device let go on the way out.
    stop::install();

    ModuleLine moduleLine;
    const Checked<void> opened = options->pty ? moduleLine.openPty(options->link)
                                              : moduleLine.openPort(options->port, options->line);
    // A pseudo-terminal made but not linked means the --link path was refused:
    // a bad value, not a port that failed.
    const bool linkRefused = options->pty && !moduleLine.devicePath().isEmpty();
    if (!opened)
        return fail(opened.message(), linkRefused ? cli::BadUsage : cli::PortFailure);
    moduleLine.setGapMs(options->gapMs);
    std::printf("%s\n", qPrintable(protocol::printable(moduleLine.devicePath())));
    std::fflush(stdout);

    Emulator emulator(moduleLine, ModuleBus(options->uids, moduleLine.settings().baudRate));
    std::unique_ptr<EmulatorWindow> window;
    if (options->headless) {
        QObject::connect(&emulator, &Emulator::logged, [](const QString& text) {
            std::printf("%s\n", qPrintable(text));
            std::fflush(stdout);
        });
        // Nothing more can arrive and no one watches a window: the log has
        // said why, and the exit status tells a script or service manager.
        QObject::connect(
            &moduleLine, &ModuleLine::failed, app.get(), [&app] { app->exit(cli::PortFailure); },
            Qt::QueuedConnection);
    } else {
        window = std::make_unique<EmulatorWindow>(emulator);
        window->show();
    }
    QObject::connect(&stop::StopSignals::instance(), &stop::StopSignals::stopRequested, app.get(),
                     [&emulator, &app](int signal) {
                         emulator.finish(QStringLiteral("stopped by ") + stop::signalName(signal));
                         app->exit(stop::exitStatus(cli::Success));
                     });
    return app->exec();
}
