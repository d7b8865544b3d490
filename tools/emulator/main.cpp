#include "protocol/printable.h"
#include "serial/LineSettings.h"
#include "tools/emulator/Emulator.h"
#include "tools/emulator/EmulatorWindow.h"
#include "tools/emulator/ModuleBus.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const Notes = R"(
Exactly one of --pty or --port. With --pty the first line on standard output
is the pseudo-terminal's device path; point the panel's COMn at it (or at the
--link path) in the "Ports" section of quendra.ini.

Every frame gives one log line: time of its first byte, the bytes in hex, and
what the module made of it, for example
  12:04:31.207  01 62 20 20 20 20 48 49  UID 1 text '    HI'
  12:04:33.610  07 63 05  decimal points for UID 7, ignored
  12:04:35.002  01 41  malformed: unknown command code 0x41

A frame ends where the line falls idle for 3.5 character times, at least
5 ms on a pseudo-terminal and 20 ms on a real device (--gap overrides).
Numbers are shown right-justified; one that needs more than six positions
shows "OFL" ("-OFL" when negative), and the log gives its value.
A configuration frame sets the UID and the rate; with an unknown baud code
it is ignored whole. The link is replaced only when an earlier emulator
left it (it points to a missing device or a pseudo-terminal), and removed
on exit, also on SIGINT and SIGTERM.
When the line goes away (a USB adapter pulled out, the far end of a
pseudo-terminal closed), the log says so; with --headless the emulator then
exits with status 3, with the window it stays open to show the log.

Several modules share the line with --uid 1,2,5 (or --modules 3 for UIDs 1
to 3). A command frame goes to the module with its UID; each module that
takes a frame gives its own log line, named by its place in the list:
  12:04:31.207  02 62 20 20 20 20 48 49  module 2 (UID 2): text '    HI'
  12:04:33.610  07 63 05  decimal points for UID 7: no module has UID 7
A configuration frame carries no UID, so every module on the line takes it
and afterwards they all have the same UID; the log and the window warn:
  12:04:35.002  1E 1E 24 09  module 1 (UID 1): configuration: UID 1 -> 9, 9600 baud
  12:04:35.002  1E 1E 24 09  module 2 (UID 2): configuration: UID 2 -> 9, 9600 baud
  12:04:35.002    2 modules now share UID 9
From then on a frame for UID 9 is taken by both, and each line says so.
A frame that cannot be read gives one line, whatever the number of modules.
)";

// Exit status of a headless emulator whose line went away.
constexpr int LineFailed = 3;

int quitPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP end the event loop, so that the link is
// removed on the way out like on any other exit.
void quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, quitPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

// An option's value as a message quotes it: cut short, escaped.
QString quoted(const QString& value)
{
    return protocol::printable(value, protocol::QuotedChars);
}

int fail(const QString& message)
{
    // The message may quote a device name or an option's value as given.
    std::fprintf(stderr, "quendra-emulator: %s\n", qPrintable(protocol::printable(message)));
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays a six-digit LED module on a serial line: shows what the module "
                       "would show and logs every frame it receives."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption pty(QStringLiteral("pty"),
                                 QStringLiteral("Create a pseudo-terminal and listen on it."));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("With --pty, also make a symbolic link to it."),
                                  QStringLiteral("path"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Listen on an existing serial device."),
                                  QStringLiteral("device"));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Line settings (default %1).").arg(DefaultLineSettings),
        QStringLiteral("text"), QString::fromLatin1(DefaultLineSettings));
    const QCommandLineOption uid(
        QStringLiteral("uid"),
        QStringLiteral("The module's UID 0..255, or \"any\" (default 1); a list such as 1,2,5 "
                       "puts one module per UID on the line."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption modules(
        QStringLiteral("modules"),
        QStringLiteral("Put n modules, UIDs 1 to n, on the line (1..%1).")
            .arg(ModuleBus::MaxModules),
        QStringLiteral("n"));
    const QCommandLineOption gap(QStringLiteral("gap"),
                                 QStringLiteral("Idle time that ends a frame, in milliseconds."),
                                 QStringLiteral("ms"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("No window: print the log lines to standard output."));
    parser.addOptions({help, pty, link, port, settings, uid, modules, gap, headless});

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        std::printf("%s%s", qPrintable(parser.helpText()), Notes);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"")
                        .arg(quoted(parser.positionalArguments().first())));
    if (parser.isSet(pty) == parser.isSet(port))
        return fail(QStringLiteral("give exactly one of --pty or --port (see --help)"));
    if (parser.isSet(link) && !parser.isSet(pty))
        return fail(QStringLiteral("--link goes with --pty"));

    if (parser.isSet(uid) && parser.isSet(modules))
        return fail(QStringLiteral("give --uid or --modules, not both"));
    QString refused;
    const std::optional<QList<std::optional<quint8>>> uids =
        parser.isSet(modules) ? ModuleBus::numberedUids(parser.value(modules), &refused)
                              : ModuleBus::parseUids(parser.value(uid), &refused);
    if (!uids)
        return fail(refused);
    const std::optional<LineSettings> line = parseLineSettings(parser.value(settings));
    if (!line)
        return fail(QStringLiteral("--settings \"%1\" not understood; write it like %2")
                        .arg(quoted(parser.value(settings)), DefaultLineSettings));
    int gapMs = 0;
    if (parser.isSet(gap)) {
        bool ok = false;
        gapMs = parser.value(gap).toInt(&ok);
        if (!ok || gapMs < 1 || gapMs > 10000)
            return fail(
                QStringLiteral("--gap \"%1\" is not 1..10000 ms").arg(quoted(parser.value(gap))));
    }

    std::unique_ptr<QCoreApplication> app;
    if (parser.isSet(headless))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quendra-emulator"));
    quitOnSignals(*app);

    ModuleLine moduleLine;
    QString error;
    const bool opened = parser.isSet(pty) ? moduleLine.openPty(parser.value(link), &error)
                                          : moduleLine.openPort(parser.value(port), *line, &error);
    if (!opened)
        return fail(error);
    moduleLine.setGapMs(gapMs);
    std::printf("%s\n", qPrintable(protocol::printable(moduleLine.devicePath())));
    std::fflush(stdout);

    Emulator emulator(moduleLine, ModuleBus(*uids, moduleLine.settings().baudRate));
    std::unique_ptr<EmulatorWindow> window;
    if (parser.isSet(headless)) {
        QObject::connect(&emulator, &Emulator::logged, [](const QString& text) {
            std::printf("%s\n", qPrintable(text));
            std::fflush(stdout);
        });
        // Nothing more can arrive and no one watches a window: the log has
        // said why, and the exit status tells a script or service manager.
        QObject::connect(
            &moduleLine, &ModuleLine::failed, app.get(), [&app] { app->exit(LineFailed); },
            Qt::QueuedConnection);
    } else {
        window = std::make_unique<EmulatorWindow>(emulator);
        window->show();
    }
    return app->exec();
}
