#include "common/StopSignals.h"
#include "protocol/printable.h"
#include "tools/common/CommandLine.h"
#include "window/PanelOptions.h"
#include "window/PanelStyle.h"
#include "window/frmMain.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    // Before QApplication: --help and --version need no display, and a
    // refused option must not wait for one.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const PanelCommand command = readPanelArguments(args);
    switch (command.action) {
    case PanelCommand::Help:
        std::fputs(qPrintable(panelHelp()), stdout);
        return cli::Success;
    case PanelCommand::Version:
        std::fputs(qPrintable(cli::versionLine("quendra-panel")), stdout);
        return cli::Success;
    case PanelCommand::Refuse:
        std::fprintf(stderr, "%s\n", qPrintable(command.message));
        return cli::BadUsage;
    case PanelCommand::Run:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuendraAPP"));
    QApplication::setStyle(new PanelStyle);
    // The window's dialog font for the whole program, its message boxes and
    // menus too. Set before the window is built, it is also the font every
    // text field lays out its empty text in before taking its own, so that
    // start-up loads one font fewer.
    QApplication::setFont(frmMain::dialogFont());

    // A stop closes what is open as the operator would, a message box first,
    // then the window; the port is released with the window.
    stop::install();
    QObject::connect(&stop::StopSignals::instance(), &stop::StopSignals::stopRequested, &app, [] {
        QApplication::closeAllWindows();
        QCoreApplication::exit(stop::exitStatus(cli::Success));
    });

    auto window = std::make_unique<frmMain>();
    int status = cli::Success;
    // A stop during start-up (its message box up) ends it there: the window
    // is never shown.
    if (!stop::requested()) {
        const QRect screen = window->screen()->availableGeometry();
        window->move(screen.center() - window->frameGeometry().center() + window->pos());
        window->show();
        status = QApplication::exec();
    }
    const MSComm& port = window->port();
    const QString released = port.isOpen() ? QStringLiteral("; COM%1 (%2) released")
                                                 .arg(port.commPort())
                                                 .arg(protocol::printable(port.devicePath()))
                                           : QString();
    window.reset();
    if (stop::requested())
        std::fprintf(stderr, "quendra-panel: stopped by %s%s\n",
                     qPrintable(stop::signalName(stop::received())), qPrintable(released));
    return stop::exitStatus(status);
}
