#include "tools/emulator/Options.h"

#include "common/CommandLine.h"
#include "protocol/printable.h"
#include "tools/emulator/ModuleBus.h"

#include <QCommandLineParser>

#include <algorithm>
#include <array>
#include <memory>

namespace {

const char* const Usage = R"(Usage: quendra-emulator --pty [--link PATH] [OPTIONS]
       quendra-emulator --port DEVICE [--settings TEXT] [OPTIONS]
Plays a six-digit LED module on a serial line: shows what the module would
show and logs every frame it receives.
)";

// The rest (the log's lines, the idle gap, several modules) is the manual's.
const char* const Notes = R"(
Exactly one of --pty or --port. With --pty the first line on standard output
is the pseudo-terminal's device path; point the panel's COMn at it (or at the
--link path) in the "Ports" section of quendra.ini.

Exit status: 0 when the window is closed, 2 for bad usage or a bad value,
3 when the port would not open or the line went away, 128 + the signal when
SIGINT, SIGTERM or SIGHUP stopped it (every frame taken logged first).
The log, the idle gap that ends a frame, numbers too long for six positions
and several modules on one line: see quendra-emulator(1).
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

// An option's value as a message quotes it: cut short, escaped.
QString quoted(const QString& value)
{
    return protocol::printable(value, protocol::QuotedChars);
}

Refusal fail(const QString& message)
{
    return Refusal{message};
}

// Digits only: a number takes no sign and no blanks.
bool isPlainNumber(const QString& text)
{
    return !text.isEmpty() &&
           std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); });
}

struct Parser
{
    std::unique_ptr<QCommandLineParser> parser;
    QList<QCommandLineOption> options; // in the order --help lists them
    // help, version, pty, link, port, settings, uid, modules, gap, headless
    std::array<QCommandLineOption, 10> named;
};

Parser parser()
{
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
    Parser p{std::make_unique<QCommandLineParser>(),
             {pty, link, port, settings, uid, modules, gap, headless, help, version},
             {help, version, pty, link, port, settings, uid, modules, gap, headless}};
    p.parser->addOptions(p.options);

    return p;
}

} // namespace

Checked<EmulatorOptions> parseEmulatorOptions(const QStringList& arguments)
{
    const Parser p = parser();
    QCommandLineParser& parser = *p.parser;
    const auto& [help, version, pty, link, port, settings, uid, modules, gap, headless] = p.named;
    const QList<QCommandLineOption>& options = p.options;
    if (!parser.parse(arguments)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            const QString name = parser.unknownOptionNames().constFirst();
            return fail(QStringLiteral("unknown option %1%2. %3")
                            .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"),
                                 quoted(name), cli::tryHelp("quendra-emulator")));
        }
        return fail(parser.errorText());
    }
    EmulatorOptions chosen;
    if (parser.isSet(help) || parser.isSet(version)) {
        chosen.mode = parser.isSet(help) ? EmulatorOptions::Help : EmulatorOptions::Version;
        return chosen;
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
    if (parser.isSet(modules) && !isPlainNumber(parser.value(modules)))
        return fail(QStringLiteral("--modules \"%1\" is not 1..%2")
                        .arg(quoted(parser.value(modules)))
                        .arg(ModuleBus::MaxModules));
    const Checked<QList<std::optional<quint8>>> uids =
        parser.isSet(modules) ? ModuleBus::numberedUids(parser.value(modules))
                              : ModuleBus::parseUids(parser.value(uid));
    if (!uids)
        return fail(uids.message());
    chosen.uids = *uids;
    const std::optional<LineSettings> line = parseLineSettings(parser.value(settings));
    if (!line)
        return fail(QStringLiteral("--settings \"%1\" not understood; write it like %2")
                        .arg(quoted(parser.value(settings)), DefaultLineSettings));
    chosen.line = *line;
    if (parser.isSet(gap)) {
        bool ok = false;
        chosen.gapMs = parser.value(gap).toInt(&ok);
        if (!ok || !isPlainNumber(parser.value(gap)) || chosen.gapMs < 1 || chosen.gapMs > 10000)
            return fail(
                QStringLiteral("--gap \"%1\" is not 1..10000 ms").arg(quoted(parser.value(gap))));
    }
    chosen.pty = parser.isSet(pty);
    chosen.link = parser.value(link);
    chosen.port = parser.value(port);
    chosen.headless = parser.isSet(headless);
    return chosen;
}

QString emulatorHelp()
{
    const Parser p = parser();
    QString text = QLatin1String(Usage) + QStringLiteral("\nOptions:\n");
    for (const QCommandLineOption& option : p.options)
        text += optionLine(option);
    return text + QLatin1String(Notes);
}
