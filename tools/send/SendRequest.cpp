#include "tools/send/SendRequest.h"

#include "common/StopSignals.h"
#include "protocol/hex.h"
#include "protocol/printable.h"
#include "protocol/protocol.h"
#include "serial/DeviceAdvice.h"
#include "serial/LineSettings.h"
#include "serial/MSComm.h"
#include "serial/PortName.h"
#include "settings/Startup.h"
#include "tools/send/Ports.h"
#include "tools/send/Progress.h"
#include "tools/send/Script.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace send {

namespace {

// A script's frames go out this many at a time before the far end is asked
// to confirm them: one round trip each N frames rather than each frame (see
// docs/performance.md), and a failure still counted to within N frames.
constexpr int ConfirmEveryFrames = 16;

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

// The port's own message names the device; a COMn name says which mapping
// led there.
QString portFailure(const Request& request, const MSComm& port, const WriteResult* sent)
{
    QString message;
    if (request.portName != request.device)
        message += request.portName + QStringLiteral(": ");
    if (sent)
        message += sent->summary() + QStringLiteral(": ");
    return message + port.errorString();
}

// The one way to standard error: names and what a server said may hold
// control characters, which a terminal would obey.
int refuse(QTextStream& err, const QString& message, int status)
{
    err << "quendra-send: " << protocol::printable(message) << '\n';
    err.flush();
    return status;
}

// What was done when a stop signal ended the run early, the signal named
// last: "interrupted at station.txt:7: 12 of 40 frames sent, 12 confirmed
// (SIGTERM)".
int interrupted(QTextStream& err, const QString& what)
{
    return refuse(
        err, QStringLiteral("interrupted %1 (%2)").arg(what, stop::signalName(stop::received())),
        stop::exitStatus(Sent));
}

// The port the request names, at its line settings.
bool openPort(MSComm& port, const Request& request)
{
    port.setDevice(request.device);
    port.setSettings(request.settings);
    return port.open();
}

int sendFrame(const Request& request, QTextStream& out, QTextStream& err)
{
    if (request.dryRun || request.verbose) {
        out << protocol::hexText(request.frame) << '\n';
        out.flush();
    }
    if (request.dryRun)
        return Sent;

    const QString nothingSent = QStringLiteral("before the frame was sent: nothing sent");
    if (stop::requested())
        return interrupted(err, nothingSent);
    MSComm port;
    if (!openPort(port, request))
        return refuse(err, portFailure(request, port, nullptr), PortFailure);
    // A stop that came while the port opened: it is let go unwritten.
    if (stop::requested()) {
        port.close();
        return interrupted(err, nothingSent);
    }
    const WriteResult sent = port.write(request.frame);
    if (!sent.ok())
        return refuse(err, portFailure(request, port, &sent), PortFailure);
    const bool confirmed = port.close();
    if (stop::requested())
        return interrupted(err, confirmed ? QStringLiteral("after the frame was sent and confirmed")
                                          : QStringLiteral("after the frame was sent; not "
                                                           "confirmed: ") +
                                                portFailure(request, port, nullptr));
    if (!confirmed)
        return refuse(err, portFailure(request, port, nullptr) + QStringLiteral("; not confirmed"),
                      PortFailure);
    if (request.verbose) {
        out << "sent " << request.frame.size() << " bytes to "
            << protocol::printable(request.device) << " at " << request.settings << '\n';
        out.flush();
    }
    return Sent;
}

// Standard input as it comes, so that a stop signal is heard while a script
// is still being typed or piped in. At most limit + 1 bytes.
Checked<QByteArray> readStandardInput(qint64 limit)
{
    QByteArray bytes;
    char buffer[65536];
    while (bytes.size() <= limit) {
        if (!stop::awaitInput(0))
            return Refusal{QStringLiteral("interrupted")};
#ifdef Q_OS_WIN
        const int n = ::_read(0, buffer, sizeof buffer);
#else
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
#endif
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Refusal{QStringLiteral("<stdin>: ") +
                           QString::fromLocal8Bit(std::strerror(errno))};
        bytes.append(buffer, qsizetype(std::min<qint64>(n, limit + 1 - bytes.size())));
    }
    return bytes;
}

Checked<QString> readScriptText(const QString& path)
{
    // Far more than any test station's script; --script /dev/zero must not
    // fill the memory.
    constexpr qint64 MaxScriptMB = 64;
    constexpr qint64 MaxScriptBytes = MaxScriptMB * 1024 * 1024;
    QByteArray bytes;
    if (path == QLatin1String("-")) {
        const Checked<QByteArray> input = readStandardInput(MaxScriptBytes);
        if (!input)
            return Refusal{input.message()};
        bytes = *input;
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return Refusal{QStringLiteral("%1: %2").arg(scriptName(path), file.errorString())};
        bytes = file.read(MaxScriptBytes + 1);
        if (file.error() != QFileDevice::NoError)
            return Refusal{QStringLiteral("%1: %2").arg(scriptName(path), file.errorString())};
    }
    if (bytes.size() > MaxScriptBytes)
        return Refusal{QStringLiteral("%1: longer than %2 MB; split the script")
                           .arg(scriptName(path))
                           .arg(MaxScriptMB)};
    if (const std::optional<int> line = firstLineNotUtf8(bytes))
        return Refusal{QStringLiteral("%1:%2: not UTF-8; save the script as UTF-8")
                           .arg(scriptName(path))
                           .arg(*line)};
    return QString::fromUtf8(bytes);
}

QString countOf(qsizetype n, const char* what)
{
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(what)).arg(n == 1 ? "" : "s");
}

// The frames' own time on the line, on average, at its settings.
double lineMsPerFrame(const QList<ScriptStep>& steps, const QString& settings)
{
    qsizetype frames = 0;
    qsizetype bytes = 0;
    for (const ScriptStep& step : steps) {
        frames += step.isWait() ? 0 : 1;
        bytes += step.frame.size();
    }
    const std::optional<LineSettings> line = parseLineSettings(settings);
    if (frames == 0 || !line)
        return 0;
    return double(bytes) * bitsPerCharacter(*line) * 1000.0 / line->baudRate / double(frames);
}

// Every line is checked before the port opens: a script with a mistake
// anywhere sends nothing.
int sendScript(const Request& request, QTextStream& out, QTextStream& err, bool errIsTerminal)
{
    const QString name = scriptName(request.script);
    const Checked<QString> text = readScriptText(request.script);
    if (!text && stop::requested())
        return interrupted(err, QStringLiteral("while reading %1: nothing sent").arg(name));
    if (!text)
        return refuse(err, text.message(), BadUsage);
    const Checked<QList<ScriptStep>> steps = readScript(*text, name, request.uid);
    if (!steps)
        return refuse(err, steps.message(), BadUsage);

    const auto show = [&out](const ScriptStep& step) {
        if (step.isWait())
            out << step.line << ": wait " << step.waitMs << " ms\n";
        else
            out << step.line << ": " << protocol::hexText(step.frame) << '\n';
    };
    if (request.dryRun) {
        for (const ScriptStep& step : *steps)
            show(step);
        out.flush();
        return Sent;
    }

    qsizetype total = 0;
    qint64 waitsMs = 0;
    for (const ScriptStep& step : *steps) {
        total += step.isWait() ? 0 : 1;
        waitsMs += step.waitMs;
    }
    const QString allFrames = countOf(total, "frame");
    const QString beforeFirst =
        QStringLiteral("at %1, before its first frame: 0 of %2 sent").arg(name, allFrames);
    if (stop::requested())
        return interrupted(err, beforeFirst);
    MSComm port;
    port.setConfirmEvery(ConfirmEveryFrames);
    if (!openPort(port, request))
        return refuse(err, portFailure(request, port, nullptr), PortFailure);
    // Drawn where a person watches; --verbose shows every step already.
    Progress progress(err, errIsTerminal && !request.quiet && !request.verbose, total, waitsMs,
                      lineMsPerFrame(*steps, request.settings));
    const auto failed = [&](int line, const WriteResult* sent) {
        progress.finish(port.confirmedFrames());
        return refuse(
            err,
            QStringLiteral("%1:%2: %3; %4 confirmed before it")
                .arg(name)
                .arg(line)
                .arg(portFailure(request, port, sent), countOf(port.confirmedFrames(), "frame")),
            PortFailure);
    };
    qsizetype frames = 0;
    qsizetype bytes = 0;
    int lastLine = 0; // of the step under way when a stop came
    for (const ScriptStep& step : *steps) {
        if (stop::requested())
            break;
        lastLine = step.line;
        if (request.verbose) {
            show(step);
            out.flush();
        }
        if (step.isWait()) {
            // The frames before a pause are on show during it.
            if (!port.confirm())
                return failed(step.line, nullptr);
            if (!progress.pause(step.waitMs, port.confirmedFrames()))
                break;
            continue;
        }
        // The frame under way when a stop comes is finished: the stop is
        // heard between frames.
        const WriteResult sent = port.write(step.frame);
        if (!sent.ok())
            return failed(step.line, &sent);
        ++frames;
        bytes += step.frame.size();
        progress.frameSent(port.confirmedFrames());
    }
    const bool closed = port.close();
    progress.finish(port.confirmedFrames());
    if (stop::requested()) {
        if (lastLine == 0)
            return interrupted(err, beforeFirst);
        return interrupted(
            err, QStringLiteral("at %1:%2: %3 of %4 sent, %5 confirmed%6")
                     .arg(name)
                     .arg(lastLine)
                     .arg(frames)
                     .arg(allFrames)
                     .arg(port.confirmedFrames())
                     .arg(closed ? QString()
                                 : QStringLiteral(": ") + portFailure(request, port, nullptr)));
    }
    if (!closed)
        return refuse(err,
                      QStringLiteral("%1: %2; %3 of %4 confirmed")
                          .arg(name, portFailure(request, port, nullptr))
                          .arg(port.confirmedFrames())
                          .arg(countOf(frames, "frame")),
                      PortFailure);
    if (request.verbose) {
        out << "sent " << countOf(frames, "frame") << " (" << countOf(bytes, "byte") << ") to "
            << protocol::printable(request.device) << " at " << request.settings << '\n';
        out.flush();
    }
    return Sent;
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
