// Parsing quendra-send's command line into a request (the port through the
// "Ports" mapping, the line settings, the UID, the mode), --help, and the
// run that hands the request to what it asks for: one frame
// (SendFrame.cpp), a script (SendScript.cpp) or the list of ports.
#include "tools/send/SendRequest.h"

#include "protocol/printable.h"
#include "protocol/protocol.h"
#include "serial/DeviceAdvice.h"
#include "serial/LineSettings.h"
#include "serial/PortName.h"
#include "settings/Startup.h"
#include "tools/send/Ports.h"
#include "tools/send/SendFrame.h"
#include "tools/send/SendScript.h"

namespace send {

namespace {

// The port to open: "COMn" (or just n, as in the settings file) goes through
// the "Ports" mapping; anything else is a device path.
struct Port
{
    QString name;
    QString device;
};

Checked<Port> resolvePort(const QString& text, const Defaults& defaults)
{
    const QString trimmed = text.trimmed();
    const std::optional<int> n = comPortNumber(trimmed, true);
    if (!n)
        return Port{trimmed, trimmed};
    if (*n < 1 || *n > MaxComPort)
        return Refusal{QStringLiteral("port \"%1\": no such port number (COM1 to COM%2)")
                           .arg(quote(trimmed))
                           .arg(MaxComPort)};
    return Port{QStringLiteral("COM%1").arg(*n), defaults.ports.value(*n, platformPortName(*n))};
}

// Port and line settings, from the options or else from quendra.ini.
Checked<Request> withLine(Request request, const Scan& scan, const Defaults& defaults)
{
    const bool portGiven = scan.has("--port");
    const QString portText = portGiven ? scan.value("--port") : defaults.commPort;
    if (!portText.trimmed().isEmpty()) {
        const Checked<Port> port = resolvePort(portText, defaults);
        if (!port)
            return Refusal{port.message()};
        request.portName = port->name;
        request.device = port->device;
    } else if (!request.dryRun) {
        return Refusal{QStringLiteral("no port: give --port or set CommPort in quendra.ini%1")
                           .arg(defaults.missingFile)};
    }

    const bool settingsGiven = scan.has("--settings");
    request.settings = settingsGiven ? scan.value("--settings") : defaults.settings;
    if (request.settings.trimmed().isEmpty())
        request.settings = QLatin1String(DefaultLineSettings);
    if ((settingsGiven || !request.dryRun) && !parseLineSettings(request.settings))
        return Refusal{QStringLiteral("%1 \"%2\" are not line settings like 9600,n,8,1")
                           .arg(settingsGiven ? QStringLiteral("--settings")
                                              : QStringLiteral("Setting in quendra.ini"),
                                quote(request.settings))};
    // What a local device cannot run is refused before any port is asked, so
    // that a dry run finds it too.
    const std::optional<LineSettings> line = parseLineSettings(request.settings);
    const QString unsupported =
        line && !isNetworkPortName(request.device) ? deviceSettingsRefusal(*line) : QString();
    if (!unsupported.isEmpty())
        return Refusal{QStringLiteral("%1 \"%2\": %3")
                           .arg(settingsGiven ? QStringLiteral("--settings")
                                              : QStringLiteral("Setting in quendra.ini"),
                                quote(request.settings), unsupported)};
    return request;
}

// The options a mode other than sending one frame leaves no room for.
Checked<Request> refuseCommand(const Scan& scan, const char* mode, const QList<Option>& alsoRefused)
{
    if (!scan.positional.isEmpty())
        return Refusal{QStringLiteral("%1 takes no command; \"%2\" is one too many")
                           .arg(QLatin1String(mode), quote(scan.positional.front()))};
    for (const Option& option : alsoRefused) {
        if (scan.has(option.name))
            return Refusal{QStringLiteral("%1 does not go with %2")
                               .arg(QLatin1String(option.name), QLatin1String(mode))};
    }
    return Request{};
}

Checked<Request> parse(const QStringList& args, const Defaults& defaults)
{
    const Checked<Scan> scan = scanArguments(args, programOptions() + commandOptions());
    if (!scan)
        return Refusal{scan.message()};
    Request request;
    if (scan->has("--help")) {
        request.mode = Request::Help;
        return request;
    }
    if (scan->has("--version")) {
        request.mode = Request::Version;
        return request;
    }
    if (scan->has("--list-ports")) {
        QList<Option> others = commandOptions();
        for (const Option& option : programOptions()) {
            if (qstrcmp(option.name, "--json") != 0 && qstrcmp(option.name, "--list-ports") != 0)
                others.append(option);
        }
        Checked<Request> listing = refuseCommand(*scan, "--list-ports", others);
        if (listing) {
            listing->mode = Request::ListPorts;
            listing->json = scan->has("--json");
        }
        return listing;
    }
    if (scan->has("--json"))
        return Refusal{QStringLiteral("--json goes with --list-ports")};

    request.dryRun = scan->has("--dry-run");
    request.verbose = scan->has("--verbose");
    request.quiet = scan->has("--quiet");
    const bool uidGiven = scan->has("--uid");
    request.uid = uidGiven ? UidDefault{scan->value("--uid"), QStringLiteral("--uid")}
                           : UidDefault{defaults.slaveId, QStringLiteral("SlaveID in quendra.ini")};

    if (scan->has("--script")) {
        // A command's own options belong on the script's lines.
        Checked<Request> alone = refuseCommand(*scan, "--script", commandOptions());
        if (!alone)
            return alone;
        if (uidGiven && !uidFromWord(request.uid.text))
            return Refusal{
                QStringLiteral("--uid \"%1\" is not a UID 0 to 255").arg(quote(request.uid.text))};
        request.mode = Request::Script;
        request.script = scan->value("--script");
        return withLine(request, *scan, defaults);
    }

    const Checked<QByteArray> frame = commandFrame(*scan, request.uid);
    // A first run without quendra.ini lacks the UID before anything else.
    if (!frame && !uidGiven && frame.message().startsWith(QLatin1String("no UID")))
        return Refusal{frame.message() + defaults.missingFile};
    if (!frame)
        return Refusal{frame.message()};
    request.frame = *frame;
    return withLine(request, *scan, defaults);
}

int listPorts(const Request& request, const Defaults& defaults, QTextStream& out)
{
    const QList<SerialDevice> devices = serialDevices();
    const QList<MappedPort> ports = mappedPorts(defaults.ports);
    if (request.json)
        out << QString::fromUtf8(portsJson(devices, ports));
    else
        out << portsText(devices, ports);
    out.flush();
    return Sent;
}

} // namespace

Defaults Defaults::fromIni()
{
    Defaults defaults{modINI::ReadStartupSettings(), {}};
    defaults.missingFile = modINI::missingFileNote(defaults);
    return defaults;
}

Checked<Request> parseArguments(const QStringList& args, const Defaults& defaults)
{
    Checked<Request> parsed = parse(args, defaults);
    if (!parsed)
        return Refusal{protocol::printable(parsed.message())};
    return parsed;
}

QString scriptName(const QString& path)
{
    return path == QLatin1String("-") ? QStringLiteral("<stdin>") : path;
}

QString helpText()
{
    // What goes to the line first, then what a command adds, then how it goes.
    QString options;
    for (const Option& option : programOptions()) {
        if (option.takesValue)
            options += optionHelp(option, QLatin1String(option.help));
    }
    options += commandOptionsHelp();
    for (const Option& option : programOptions()) {
        if (!option.takesValue)
            options += optionHelp(option, QLatin1String(option.help));
    }
    return QStringLiteral("Usage: quendra-send [OPTIONS] COMMAND [ARGUMENTS]\n"
                          "       quendra-send [OPTIONS] --script FILE\n"
                          "       quendra-send --list-ports [--json]\n"
                          "Sends one frame to a Quendra LED module, byte for "
                          "byte as the panel does,\n"
                          "or the frames of a script through one open port.\n"
                          "\n") +
           commandsHelp() + QStringLiteral("\nOptions:\n") + options +
           QStringLiteral("\n"
                          "A script holds one command a line, in the words of "
                          "the command line, and\n"
                          "\"wait MS\" (a pause), \"uid N\" (the UID of the "
                          "lines after it), blank lines\n"
                          "and # comments. Every line is checked before the "
                          "first frame is sent.\n"
                          "\n"
                          "Port, settings and UID default to CommPort, Setting "
                          "and SlaveID of quendra.ini\n"
                          "beside the program. Exit status: 0 sent, 2 bad usage "
                          "or value, 3 port failure,\n"
                          "128 + the signal when one stopped it (between "
                          "frames, saying where).\n"
                          "Sent means taken by the far end: through rfc2217:// the "
                          "terminal server\nconfirmed every frame; through socket:// "
                          "it only means that the server\nneither hung up nor reset "
                          "the connection before the close.\n"
                          "See quendra-send(1).\n");
}

int run(const QStringList& args, const Defaults& defaults, QTextStream& out, QTextStream& err,
        bool errIsTerminal)
{
    const Checked<Request> request = parseArguments(args, defaults);
    if (!request)
        return refuse(err, request.message(), BadUsage);
    switch (request->mode) {
    case Request::Help:
        out << helpText();
        out.flush();
        return Sent;
    case Request::Version:
        out << cli::versionLine("quendra-send");
        out.flush();
        return Sent;
    case Request::ListPorts:
        return listPorts(*request, defaults, out);
    case Request::Script:
        return sendScript(*request, out, err, errIsTerminal);
    case Request::Frame:
        break;
    }
    return sendFrame(*request, out, err);
}

} // namespace send
