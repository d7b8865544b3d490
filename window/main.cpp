#include "common/CommandLine.h"
#include "common/StopSignals.h"
#include "protocol/printable.h"
#include "window/PanelOptions.h"
#include "window/PanelStyle.h"
#include "window/frmMain.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// A window program on Windows has no console of its own: its answers to
// --help and --version go to the console it was started from, unless they
// are already led somewhere (a pipe, a file).
void answerOnStartingConsole()
{
#ifdef Q_OS_WIN
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_UNKNOWN &&
        AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    // Before QApplication: --help and --version need no display, and a
    // refused option must not wait for one.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const PanelCommand command = readPanelArguments(args);
    if (command.action != PanelCommand::Run)
        answerOnStartingConsole();
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
    setUpPanelApplication();

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
