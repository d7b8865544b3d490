#include "window/PanelOptions.h"

#include "common/CommandLine.h"

namespace {

// QApplication's documented options, as Qt reads them with one dash or two:
// most take the next word as their value, a few only "=value".
const QStringList QtValueOptions = {
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("session"),
    QStringLiteral("style"),           QStringLiteral("stylesheet"),
    QStringLiteral("display"),         QStringLiteral("geometry")};
const QStringList QtInlineOptions = {QStringLiteral("style"), QStringLiteral("stylesheet"),
                                     QStringLiteral("qmljsdebugger")};
const QStringList QtFlags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                             QStringLiteral("nograb"), QStringLiteral("dograb"),
                             QStringLiteral("sync")};

QString refusal(const QString& what)
{
    return QStringLiteral("quendra-panel: %1. %2").arg(what, cli::tryHelp("quendra-panel"));
}

} // namespace

PanelCommand readPanelArguments(const QStringList& args)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return {PanelCommand::Help, {}};
        if (arg == QLatin1String("--version"))
            return {PanelCommand::Version, {}};
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            return {
                PanelCommand::Refuse,
                refusal(
                    QStringLiteral("unexpected argument \"%1\"; the panel takes none").arg(arg))};
        QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const bool inlineValue = equals >= 0;
        if (inlineValue)
            name.truncate(equals);
        if ((QtFlags.contains(name) && !inlineValue) ||
            (QtInlineOptions.contains(name) && inlineValue))
            continue;
        if (!QtValueOptions.contains(name) || inlineValue)
            return {PanelCommand::Refuse, refusal(QStringLiteral("unknown option %1").arg(arg))};
        if (++i >= args.size())
            return {PanelCommand::Refuse, refusal(QStringLiteral("%1 needs a value").arg(arg))};
    }
    return {};
}

QString panelHelp()
{
    return QStringLiteral(
        "Usage: quendra-panel [--help | --version]\n"
        "The control panel of a Quendra LED display module on a serial line: texts,\n"
        "numbers, decimal points, segment patterns and brightness, sent as frames\n"
        "addressed by the module's UID.\n"
        "\n"
        "Options:\n"
        "  -h, --help           this text\n"
        "  --version            the program's name and version\n"
        "\n"
        "Port, line settings and UID come from quendra.ini beside the program; a port\n"
        "may be a device or a terminal server (rfc2217://HOST:PORT, socket://HOST:PORT).\n"
        "Qt's own options, such as -platform NAME or -style NAME, are taken too.\n"
        "See quendra-panel(1).\n");
}
