#include "protocol/printable.h"
#include "serial/LineSettings.h"
#include "tools/common/CommandLine.h"
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

const char* const Usage = R"(Usage: quendra-emulator --pty [--link PATH] [OPTIONS]
       quendra-emulator --port DEVICE [--settings TEXT] [OPTIONS]
Plays a six-digit LED module on a serial line: shows what the module would
show and logs every frame it receives.
)";

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

Exit status: 0 on a normal end (a signal, the window closed), 2 for bad
usage or a bad value, 3 when the port would not open or the line went away.
See quendra-emulator(1).
)";

// "  --uid N         what it does", the text from a common column on and
// wrapped to fit a terminal of 80 columns.
QString optionLine(const QCommandLineOption& option)
{
    QStringList names;
    for (const QString& name : option.names())
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString usage = QStringLiteral("  ") + names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        usage += QLatin1Char(' ') + option.valueName();
    constexpr int AboutColumn = 18;
    constexpr int Width = 79;
    const QString indent(AboutColumn, QLatin1Char(' '));
    QString text = usage.size() + 2 > AboutColumn ? usage + QLatin1Char('\n') + indent
                                                  : usage.leftJustified(AboutColumn);
    int column = AboutColumn;
    for (const QString& word : option.description().split(QLatin1Char(' '))) {
        if (column > AboutColumn && column + 1 + word.size() > Width) {
            text += QLatin1Char('\n') + indent;
            column = AboutColumn;
        } else if (column > AboutColumn) {
            text += QLatin1Char(' ');
            ++column;
        }
        text += word;
        column += int(word.size());
    }
    return text + QLatin1Char('\n');
}

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

    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the program's name and version."));
    const QCommandLineOption pty(QStringLiteral("pty"),
                                 QStringLiteral("Create a pseudo-terminal and listen on it."));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("With --pty, also make a symbolic link to it."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Listen on an existing serial device."),
                                  QStringLiteral("DEVICE"));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Line settings (default %1).").arg(DefaultLineSettings),
        QStringLiteral("TEXT"), QString::fromLatin1(DefaultLineSettings));
    const QCommandLineOption uid(
        QStringLiteral("uid"),
        QStringLiteral("The module's UID 0..255, or \"any\" (default 1); a list such as 1,2,5 "
                       "puts one module per UID on the line."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption modules(
        QStringLiteral("modules"),
        QStringLiteral("Put n modules, UIDs 1 to n, on the line (1..%1).")
            .arg(ModuleBus::MaxModules),
        QStringLiteral("N"));
    const QCommandLineOption gap(QStringLiteral("gap"),
                                 QStringLiteral("Idle time that ends a frame, in milliseconds."),
                                 QStringLiteral("MS"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("No window: print the log lines to standard output."));
    const QList<QCommandLineOption> options{pty,     link, port,     settings, uid,
                                            modules, gap,  headless, help,     version};
    parser.addOptions(options);

    if (!parser.parse(arguments)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            const QString name = parser.unknownOptionNames().constFirst();
            return fail(QStringLiteral("unknown option %1%2. %3")
                            .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"),
                                 name, cli::tryHelp("quendra-emulator")));
        }
        return fail(parser.errorText());
    }
    if (parser.isSet(help)) {
        QString text = QLatin1String(Usage) + QStringLiteral("\nOptions:\n");
        for (const QCommandLineOption& option : options)
            text += optionLine(option);
        std::printf("%s%s", qPrintable(text), Notes);
        return cli::Success;
    }
    if (parser.isSet(version)) {
        std::printf("%s", qPrintable(cli::versionLine("quendra-emulator")));
        return cli::Success;
    }
    // A second value would silently replace the first; which one was meant
    // cannot be told.
    for (const QCommandLineOption& option : options) {
        if (parser.values(option).size() > 1)
            return fail(
                QStringLiteral("--%1 given twice; give it once").arg(option.names().last()));
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
    // A pseudo-terminal made but not linked means the --link path was refused:
    // a bad value, not a port that failed.
    const bool linkRefused = parser.isSet(pty) && !moduleLine.devicePath().isEmpty();
    if (!opened)
        return fail(error, linkRefused ? cli::BadUsage : cli::PortFailure);
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
            &moduleLine, &ModuleLine::failed, app.get(), [&app] { app->exit(cli::PortFailure); },
            Qt::QueuedConnection);
    } else {
        window = std::make_unique<EmulatorWindow>(emulator);
        window->show();
    }
    return app->exec();
}
