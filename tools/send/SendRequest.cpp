#include "tools/send/SendRequest.h"

#include "protocol/ansi.h"
#include "protocol/hex.h"
#include "protocol/numbers.h"
#include "protocol/protocol.h"
#include "serial/LineSettings.h"
#include "serial/MSComm.h"
#include "settings/Startup.h"

#include <QRegularExpression>

#include <optional>

namespace send {

namespace {

// The options each command takes besides the ones every command takes.
struct CommandEntry
{
    const char* name;
    QStringList options;
};

const QList<CommandEntry>& commands()
{
    static const QList<CommandEntry> list = {
        {"text", {}},
        {"dp", {}},
        {"long", {QStringLiteral("--signed")}},
        {"short", {QStringLiteral("--signed")}},
        {"seg", {}},
        {"dim", {QStringLiteral("--payload")}},
        {"config", {QStringLiteral("--baud"), QStringLiteral("--new-uid")}},
        {"raw", {}},
    };
    return list;
}

const QStringList& optionsWithValue()
{
    static const QStringList list = {
        QStringLiteral("--port"),    QStringLiteral("--settings"), QStringLiteral("--uid"),
        QStringLiteral("--payload"), QStringLiteral("--baud"),     QStringLiteral("--new-uid"),
    };
    return list;
}

const QStringList& flags()
{
    static const QStringList list = {
        QStringLiteral("--dry-run"),
        QStringLiteral("--verbose"),
        QStringLiteral("--signed"),
        QStringLiteral("--help"),
    };
    return list;
}

// A whole number in decimal (a sign allowed) or in hexadecimal after "0x".
struct Number
{
    qint64 value = 0;
    bool hex = false;
};

std::optional<Number> parseNumber(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    static const QRegularExpression hex(QStringLiteral("^0[xX][0-9A-Fa-f]+$"));
    bool ok = false;
    if (decimal.match(text).hasMatch()) {
        const qint64 value = text.toLongLong(&ok, 10);
        return ok ? std::optional<Number>(Number{value, false}) : std::nullopt;
    }
    if (hex.match(text).hasMatch()) {
        const qint64 value = text.mid(2).toLongLong(&ok, 16);
        return ok ? std::optional<Number>(Number{value, true}) : std::nullopt;
    }
    return std::nullopt;
}

// A whole number in low..high, or a message that says what is wrong.
std::variant<int, QString> boundedNumber(const QString& what, const QString& text, int low,
                                         int high)
{
    const std::optional<Number> n = parseNumber(text);
    if (!n)
        return QStringLiteral("%1: \"%2\" is not a whole number").arg(what, text);
    if (n->value < low || n->value > high)
        return QStringLiteral("%1: %2 is out of range %3 to %4").arg(what, text).arg(low).arg(high);
    return int(n->value);
}

struct Parser
{
    QStringList positional;
    QHash<QString, QString> values; // option -> value, the last one given wins
    QSet<QString> given;
    QString error;

    bool scan(const QStringList& args)
    {
        static const QRegularExpression negativeNumber(QStringLiteral("^-[0-9]"));
        bool optionsEnded = false;
        for (int i = 0; i < args.size(); ++i) {
            const QString& arg = args.at(i);
            if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-") ||
                negativeNumber.match(arg).hasMatch()) {
                positional.append(arg);
                continue;
            }
            if (arg == QLatin1String("--")) {
                optionsEnded = true;
                continue;
            }
            QString name = arg;
            std::optional<QString> inlineValue;
            const qsizetype equals = arg.indexOf(QLatin1Char('='));
            if (arg.startsWith(QLatin1String("--")) && equals > 0) {
                name = arg.left(equals);
                inlineValue = arg.mid(equals + 1);
            }
            if (name == QLatin1String("-h"))
                name = QStringLiteral("--help");
            if (name == QLatin1String("-v"))
                name = QStringLiteral("--verbose");

            if (optionsWithValue().contains(name)) {
                if (!inlineValue) {
                    if (i + 1 >= args.size()) {
                        error = QStringLiteral("%1 needs a value").arg(name);
                        return false;
                    }
                    inlineValue = args.at(++i);
                }
                values.insert(name, *inlineValue);
                given.insert(name);
            } else if (flags().contains(name) && !inlineValue) {
                given.insert(name);
            } else {
                error = QStringLiteral("unknown option %1").arg(arg);
                return false;
            }
        }
        return true;
    }
};

// The port to open: "COMn" (or just n, as in the settings file) goes through
// the "Ports" mapping; anything else is a device path.
std::variant<std::pair<QString, QString>, QString> resolvePort(const QString& text,
                                                               const Defaults& defaults)
{
    static const QRegularExpression comNumber(QStringLiteral("^(?:COM)?([0-9]+)$"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QString trimmed = text.trimmed();
    const QRegularExpressionMatch match = comNumber.match(trimmed);
    if (!match.hasMatch())
        return std::pair{trimmed, trimmed};
    bool ok = false;
    const int n = match.captured(1).toInt(&ok);
    if (!ok || n < 1 || n > 255)
        return QStringLiteral("port \"%1\": no such port number (COM1 to COM255)").arg(trimmed);
    const QString name = QStringLiteral("COM%1").arg(n);
    return std::pair{name, defaults.ports.value(n, MSComm::platformPortName(n))};
}

using Payload = std::variant<QByteArray, QString>; // bytes, or what is wrong

Payload textCommand(const QStringList& words)
{
    if (words.isEmpty())
        return QStringLiteral("text needs the text to show");
    if (words.size() > 1)
        return QStringLiteral("text takes one argument: put a text with blanks in quotes");
    const QString& text = words.front();
    if (text.size() > protocol::DisplayPositions)
        return QStringLiteral("text: \"%1\" is longer than %2 characters")
            .arg(text)
            .arg(protocol::DisplayPositions);
    // A character the module's code page lacks would reach the line as '?'.
    if (protocol::fromAnsi(protocol::toAnsi(text)) != text)
        return QStringLiteral("text: \"%1\" has a character the module cannot show").arg(text);
    return protocol::textPayload(text);
}

Payload numberCommand(const QString& command, const QStringList& words, int width, bool isSigned)
{
    const QStringList tokens =
        words.join(QLatin1Char(' '))
            .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (tokens.size() == width && width > 1) {
        QByteArray bytes;
        for (const QString& token : tokens) {
            const std::optional<quint8> byte = protocol::byteFromHex(token);
            if (!byte)
                return QStringLiteral("%1: \"%2\" is not a hex byte 00 to FF").arg(command, token);
            bytes.append(static_cast<char>(*byte));
        }
        return bytes;
    }
    if (tokens.size() != 1)
        return QStringLiteral("%1 takes one number or %2 hex bytes").arg(command).arg(width);

    const QString& text = tokens.front();
    const std::optional<Number> n = parseNumber(text);
    if (!n)
        return QStringLiteral("%1: \"%2\" is not a number").arg(command, text);
    const int bits = 8 * width;
    if (n->hex) {
        // Hexadecimal gives the bit pattern itself, signed or not.
        if (const std::optional<QByteArray> bytes = protocol::numberPayload(n->value, width, false))
            return *bytes;
        return QStringLiteral("%1: %2 does not fit in %3 bytes").arg(command, text).arg(width);
    }
    if (n->value < 0 && !isSigned)
        return QStringLiteral("%1: %2 is negative; add --signed to send a signed number")
            .arg(command, text);
    if (const std::optional<QByteArray> bytes = protocol::numberPayload(n->value, width, isSigned))
        return *bytes;
    const qint64 low = isSigned ? -(qint64(1) << (bits - 1)) : 0;
    const qint64 high = isSigned ? (qint64(1) << (bits - 1)) - 1 : (qint64(1) << bits) - 1;
    return QStringLiteral("%1: %2 is out of range %3 to %4%5")
        .arg(command, text)
        .arg(low)
        .arg(high)
        .arg(isSigned ? QStringLiteral(" (signed)") : QString());
}

Payload segCommand(const QStringList& words)
{
    const QStringList tokens =
        words.join(QLatin1Char(' '))
            .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (tokens.size() != protocol::DisplayPositions)
        return QStringLiteral("seg takes six hex bytes B6 B5 B4 B3 B2 B1, leftmost first");
    QByteArray bytes;
    for (const QString& token : tokens) {
        const std::optional<quint8> byte = protocol::byteFromHex(token);
        if (!byte)
            return QStringLiteral("seg: \"%1\" is not a hex byte 00 to FF").arg(token);
        bytes.append(static_cast<char>(*byte));
    }
    return bytes;
}

// The whole frame of a command, or what is wrong.
std::variant<QByteArray, QString> buildFrame(const QString& command, const QStringList& words,
                                             const Parser& p, const Defaults& defaults)
{
    if (command == QLatin1String("raw")) {
        const std::optional<QByteArray> bytes = protocol::bytesFromHex(words.join(' '));
        if (!bytes)
            return QStringLiteral("raw: \"%1\" is not hex bytes").arg(words.join(' '));
        if (bytes->isEmpty())
            return QStringLiteral("raw needs at least one byte");
        return *bytes;
    }

    if (command == QLatin1String("config")) {
        if (!words.isEmpty())
            return QStringLiteral("config takes no arguments, only --baud and --new-uid");
        if (!p.given.contains(QStringLiteral("--baud")))
            return QStringLiteral("config needs --baud 9600, 19200 or 38400");
        if (!p.given.contains(QStringLiteral("--new-uid")))
            return QStringLiteral("config needs --new-uid 0 to 255");
        const QString rate = p.values.value(QStringLiteral("--baud")).trimmed();
        std::optional<protocol::Baud> baud;
        if (rate == QLatin1String("9600"))
            baud = protocol::Baud::B9600;
        else if (rate == QLatin1String("19200"))
            baud = protocol::Baud::B19200;
        else if (rate == QLatin1String("38400"))
            baud = protocol::Baud::B38400;
        if (!baud)
            return QStringLiteral("--baud: \"%1\" is not 9600, 19200 or 38400").arg(rate);
        const auto uid =
            boundedNumber(QStringLiteral("--new-uid"),
                          p.values.value(QStringLiteral("--new-uid")).trimmed(), 0, 255);
        if (const QString* error = std::get_if<QString>(&uid))
            return *error;
        return protocol::configFrame(protocol::configPayload(*baud, quint8(std::get<int>(uid))));
    }

    // Everything else is a command frame addressed to one module.
    std::optional<quint8> code;
    Payload payload = QByteArray();
    const bool isSigned = p.given.contains(QStringLiteral("--signed"));
    if (command == QLatin1String("text")) {
        code = quint8(protocol::Command::Text);
        payload = textCommand(words);
    } else if (command == QLatin1String("dp")) {
        code = quint8(protocol::Command::DecimalPoints);
        if (words.size() != 1)
            return QStringLiteral("dp takes one number 0 to %1").arg(protocol::DecimalPointsMax);
        const auto n =
            boundedNumber(QStringLiteral("dp"), words.front(), 0, protocol::DecimalPointsMax);
        if (const QString* error = std::get_if<QString>(&n))
            return *error;
        payload = QByteArray(1, static_cast<char>(std::get<int>(n)));
    } else if (command == QLatin1String("long")) {
        code = quint8(isSigned ? protocol::Command::LongSigned : protocol::Command::LongUnsigned);
        payload = numberCommand(command, words, 4, isSigned);
    } else if (command == QLatin1String("short")) {
        code = quint8(isSigned ? protocol::Command::ShortSigned : protocol::Command::ShortUnsigned);
        payload = numberCommand(command, words, 2, isSigned);
    } else if (command == QLatin1String("seg")) {
        code = quint8(protocol::Command::Segments);
        payload = segCommand(words);
    } else if (command == QLatin1String("dim")) {
        code = quint8(protocol::Command::Brightness);
        if (!words.isEmpty())
            return QStringLiteral("dim takes no arguments; give its payload with --payload HEX");
        const QString hex = p.values.value(QStringLiteral("--payload"));
        const std::optional<QByteArray> bytes = protocol::bytesFromHex(hex);
        if (!bytes)
            return QStringLiteral("--payload: \"%1\" is not hex bytes").arg(hex);
        payload = *bytes;
    }
    if (const QString* error = std::get_if<QString>(&payload))
        return *error;

    const bool uidGiven = p.given.contains(QStringLiteral("--uid"));
    const QString uidText = uidGiven ? p.values.value(QStringLiteral("--uid")) : defaults.slaveId;
    if (uidText.trimmed().isEmpty())
        return QStringLiteral("no UID: give --uid or set SlaveID in quendra.ini");
    const std::optional<quint8> uid = protocol::uidFromText(uidText);
    if (!uid)
        return QStringLiteral("%1 \"%2\" is not a UID 0 to 255")
            .arg(uidGiven ? QStringLiteral("--uid") : QStringLiteral("SlaveID in quendra.ini"),
                 uidText);
    return protocol::commandFrame(*uid, *code, std::get<QByteArray>(payload));
}

} // namespace

Defaults Defaults::fromIni()
{
    const modINI::StartupSettings file = modINI::ReadStartupSettings();
    return {file.commPort, file.settings, file.slaveId, file.ports};
}

namespace {

// A refusal quotes what the script gave, which may hold line breaks or other
// control characters; the message stays one line, with those written as
// escapes, so that a script reading standard error line by line gets all of it.
QString oneLine(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029;
        if (control)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

Parsed parse(const QStringList& args, const Defaults& defaults)
{
    Parser p;
    if (!p.scan(args))
        return UsageError{p.error};
    if (p.given.contains(QStringLiteral("--help")))
        return HelpWanted{};
    if (p.positional.isEmpty())
        return UsageError{QStringLiteral("no command given; see quendra-send --help")};

    const QString command = p.positional.front();
    const QStringList words = p.positional.mid(1);
    const CommandEntry* entry = nullptr;
    for (const CommandEntry& c : commands()) {
        if (command == QLatin1String(c.name))
            entry = &c;
    }
    if (!entry)
        return UsageError{
            QStringLiteral("unknown command \"%1\"; see quendra-send --help").arg(command)};
    for (const QString& option : {QStringLiteral("--signed"), QStringLiteral("--payload"),
                                  QStringLiteral("--baud"), QStringLiteral("--new-uid")}) {
        if (p.given.contains(option) && !entry->options.contains(option))
            return UsageError{QStringLiteral("%1 is not an option of %2").arg(option, command)};
    }

    Request request;
    request.dryRun = p.given.contains(QStringLiteral("--dry-run"));
    request.verbose = p.given.contains(QStringLiteral("--verbose"));

    const auto frame = buildFrame(command, words, p, defaults);
    if (const QString* error = std::get_if<QString>(&frame))
        return UsageError{*error};
    request.frame = std::get<QByteArray>(frame);

    const bool portGiven = p.given.contains(QStringLiteral("--port"));
    const QString portText =
        portGiven ? p.values.value(QStringLiteral("--port")) : defaults.commPort;
    if (!portText.trimmed().isEmpty()) {
        const auto port = resolvePort(portText, defaults);
        if (const QString* error = std::get_if<QString>(&port))
            return UsageError{*error};
        std::tie(request.portName, request.device) = std::get<std::pair<QString, QString>>(port);
    } else if (!request.dryRun) {
        return UsageError{QStringLiteral("no port: give --port or set CommPort in quendra.ini")};
    }

    const bool settingsGiven = p.given.contains(QStringLiteral("--settings"));
    request.settings =
        settingsGiven ? p.values.value(QStringLiteral("--settings")) : defaults.settings;
    if (request.settings.trimmed().isEmpty())
        request.settings = QLatin1String(DefaultLineSettings);
    if ((settingsGiven || !request.dryRun) && !parseLineSettings(request.settings))
        return UsageError{QStringLiteral("%1 \"%2\" are not line settings like 9600,n,8,1")
                              .arg(settingsGiven ? QStringLiteral("--settings")
                                                 : QStringLiteral("Setting in quendra.ini"),
                                   request.settings)};
    return request;
}

} // namespace

Parsed parseArguments(const QStringList& args, const Defaults& defaults)
{
    Parsed parsed = parse(args, defaults);
    if (UsageError* usage = std::get_if<UsageError>(&parsed))
        usage->message = oneLine(usage->message);
    return parsed;
}

QString helpText()
{
    return QStringLiteral(
        "Usage: quendra-send [OPTIONS] COMMAND [ARGUMENTS]\n"
        "Sends one frame to a Quendra LED module, byte for byte as the panel does.\n"
        "\n"
        "Commands:\n"
        "  text STRING          up to 6 characters, shown right-aligned\n"
        "                         quendra-send text HI\n"
        "  dp N                 decimal points, 0 to 63\n"
        "                         quendra-send dp 5\n"
        "  long VALUE           32-bit number: decimal, 0x hex, or four hex bytes\n"
        "                         quendra-send long 305419896\n"
        "                         quendra-send long --signed -1\n"
        "                         quendra-send long 12 34 56 78\n"
        "  short VALUE          16-bit number: decimal, 0x hex, or two hex bytes\n"
        "                         quendra-send short 0x1234\n"
        "                         quendra-send short --signed -300\n"
        "  seg B6 B5 B4 B3 B2 B1  six segment patterns in hex, leftmost first\n"
        "                         quendra-send seg 3F 06 5B 4F 66 6D\n"
        "  dim [--payload HEX]  brightness toggle, with the payload the panel would\n"
        "                       still hold (none by default)\n"
        "                         quendra-send dim --payload \"1E 09 FF\"\n"
        "  config --baud 9600|19200|38400 --new-uid N\n"
        "                       tell a module its new baud rate and UID (no UID byte)\n"
        "                         quendra-send config --baud 38400 --new-uid 255\n"
        "  raw HEX              arbitrary bytes, sent as given\n"
        "                         quendra-send raw \"05 62 20 20 20 20 48 49\"\n"
        "\n"
        "Options:\n"
        "  --port COMn|DEVICE   port: COMn through the [Ports] mapping, or a device path\n"
        "  --settings TEXT      line settings, such as 9600,n,8,1\n"
        "  --uid N              UID of the module addressed, 0 to 255\n"
        "  --signed             long and short: send as a signed number\n"
        "  --dry-run            print the frame in hex; open nothing\n"
        "  -v, --verbose        print the frame in hex, then send it\n"
        "  -h, --help           this text\n"
        "\n"
        "Port, settings and UID default to CommPort, Setting and SlaveID of quendra.ini\n"
        "beside the program. Exit status: 0 sent, 2 bad usage or value, 3 port failure.\n");
}

int run(const QStringList& args, const Defaults& defaults, QTextStream& out, QTextStream& err)
{
    const Parsed parsed = parseArguments(args, defaults);
    if (std::holds_alternative<HelpWanted>(parsed)) {
        out << helpText();
        out.flush();
        return Sent;
    }
    if (const UsageError* usage = std::get_if<UsageError>(&parsed)) {
        err << "quendra-send: " << usage->message << '\n';
        err.flush();
        return BadUsage;
    }
    const auto& request = std::get<Request>(parsed);
    if (request.dryRun || request.verbose) {
        out << protocol::hexText(request.frame) << '\n';
        out.flush();
    }
    if (request.dryRun)
        return Sent;

    MSComm port;
    port.setDevice(request.device);
    port.setSettings(request.settings);
    const bool opened = port.open();
    const WriteResult sent = opened ? port.write(request.frame) : WriteResult{};
    if (!opened || !sent.ok()) {
        // The port object's message already names the device; a COMn name
        // says which mapping led there.
        err << "quendra-send: ";
        if (request.portName != request.device)
            err << request.portName << ": ";
        if (opened)
            err << sent.summary() << ": ";
        err << port.errorString() << '\n';
        err.flush();
        return PortFailure;
    }
    port.close();
    if (request.verbose) {
        out << "sent " << request.frame.size() << " bytes to " << request.device << " at "
            << request.settings << '\n';
        out.flush();
    }
    return Sent;
}

} // namespace send
