#include "tools/send/Commands.h"

#include "protocol/ansi.h"
#include "protocol/hex.h"
#include "protocol/numbers.h"
#include "protocol/protocol.h"

#include <QRegularExpression>

#include <algorithm>
#include <iterator>

namespace send {

namespace {

// The rates a module takes, as "9600, 19200 or 38400" or "9600|19200|38400".
QString rates(const QString& separator, const QString& last)
{
    QString text;
    const int count = int(std::size(protocol::BaudOptions));
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            text += i == count - 1 ? last : separator;
        text += QString::number(protocol::BaudOptions[i].rate);
    }
    return text;
}

// The words as blank-separated tokens: a list of hex bytes may come as one
// quoted word or as several.
QStringList tokens(const QStringList& words)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    return words.join(QLatin1Char(' ')).split(blanks, Qt::SkipEmptyParts);
}

Checked<QByteArray> hexBytes(const QString& command, const QStringList& tokens)
{
    QByteArray bytes;
    for (const QString& token : tokens) {
        const std::optional<quint8> byte = protocol::byteFromHex(token);
        if (!byte)
            return Refusal{
                QStringLiteral("%1: \"%2\" is not a hex byte 00 to FF").arg(command, quote(token))};
        bytes.append(static_cast<char>(*byte));
    }
    return bytes;
}

// A command frame: the module's UID in front of code and payload.
Checked<QByteArray> addressed(const CommandWords& c, protocol::Command code,
                              const Checked<QByteArray>& payload)
{
    if (!payload)
        return Refusal{payload.message()};
    const bool uidGiven = c.options.has("--uid");
    const QString uidText = uidGiven ? c.options.value("--uid") : c.uid.text;
    if (uidText.trimmed().isEmpty())
        return Refusal{QStringLiteral("no UID: give --uid or set SlaveID in quendra.ini")};
    // The settings file is read as the panel reads it; what the operator
    // typed is taken only as plain digits.
    const std::optional<quint8> uid =
        uidGiven ? uidFromWord(uidText) : protocol::uidFromText(uidText);
    if (!uid)
        return Refusal{QStringLiteral("%1 \"%2\" is not a UID 0 to 255")
                           .arg(uidGiven ? QStringLiteral("--uid") : c.uid.origin, quote(uidText))};
    return protocol::commandFrame(*uid, quint8(code), *payload);
}

Checked<QByteArray> textFrame(const CommandWords& c)
{
    const auto payload = [&]() -> Checked<QByteArray> {
        if (c.words.isEmpty())
            return Refusal{QStringLiteral("text needs the text to show")};
        if (c.words.size() > 1)
            return Refusal{
                QStringLiteral("text takes one argument: put a text with blanks in quotes")};
        const QString& text = c.words.front();
        if (text.size() > protocol::DisplayPositions)
            return Refusal{QStringLiteral("text: \"%1\" is longer than %2 characters")
                               .arg(quote(text))
                               .arg(protocol::DisplayPositions)};
        // A control byte would reach the module as a command, not a character.
        const auto control = std::find_if(text.cbegin(), text.cend(), isControl);
        if (control != text.cend())
            return Refusal{QStringLiteral("text: \"%1\" holds the control character %2; "
                                          "send arbitrary bytes with raw")
                               .arg(quote(text), quote(QString(*control)))};
        // A character the module's code page lacks would reach the line as '?'.
        if (protocol::fromAnsi(protocol::toAnsi(text)) != text)
            return Refusal{QStringLiteral("text: \"%1\" has a character the module cannot show")
                               .arg(quote(text))};
        return protocol::textPayload(text);
    };
    return addressed(c, protocol::Command::Text, payload());
}

Checked<QByteArray> decimalPointsFrame(const CommandWords& c)
{
    if (c.words.size() != 1)
        return Refusal{
            QStringLiteral("dp takes one number 0 to %1").arg(protocol::DecimalPointsMax)};
    const Checked<int> n =
        boundedNumber(QStringLiteral("dp"), c.words.front(), 0, protocol::DecimalPointsMax);
    if (!n)
        return Refusal{n.message()};
    return addressed(c, protocol::Command::DecimalPoints, QByteArray(1, static_cast<char>(*n)));
}

// A number of width bytes: one decimal or 0x number, or width hex bytes.
Checked<QByteArray> numberPayload(const QString& command, const QStringList& words, int width,
                                  bool isSigned)
{
    const QStringList parts = tokens(words);
    if (parts.size() == width && width > 1)
        return hexBytes(command, parts);
    if (parts.size() != 1)
        return Refusal{
            QStringLiteral("%1 takes one number or %2 hex bytes").arg(command).arg(width)};

    // Blanks only separate bytes: one number is one word as written.
    const QString text = words.join(QLatin1Char(' '));
    const std::optional<Number> n = parseNumber(text);
    if (!n)
        return Refusal{QStringLiteral("%1: \"%2\" is not a number").arg(command, quote(text))};
    if (n->hex) {
        // Hexadecimal gives the bit pattern itself, signed or not.
        if (const std::optional<QByteArray> bytes = protocol::numberPayload(n->value, width, false))
            return *bytes;
        return Refusal{
            QStringLiteral("%1: %2 does not fit in %3 bytes").arg(command, quote(text)).arg(width)};
    }
    if (text.startsWith(QLatin1Char('-')) && !isSigned)
        return Refusal{QStringLiteral("%1: %2 is negative; add --signed to send a signed number")
                           .arg(command, quote(text))};
    if (const std::optional<QByteArray> bytes = protocol::numberPayload(n->value, width, isSigned))
        return *bytes;
    const protocol::NumberRange range = protocol::numberRange(width, isSigned);
    return Refusal{QStringLiteral("%1: %2 is out of range %3 to %4%5")
                       .arg(command, quote(text))
                       .arg(range.low)
                       .arg(range.high)
                       .arg(isSigned ? QStringLiteral(" (signed)") : QString())};
}

Checked<QByteArray> longFrame(const CommandWords& c)
{
    const bool isSigned = c.options.has("--signed");
    return addressed(c, isSigned ? protocol::Command::LongSigned : protocol::Command::LongUnsigned,
                     numberPayload(QStringLiteral("long"), c.words, 4, isSigned));
}

Checked<QByteArray> shortFrame(const CommandWords& c)
{
    const bool isSigned = c.options.has("--signed");
    return addressed(c,
                     isSigned ? protocol::Command::ShortSigned : protocol::Command::ShortUnsigned,
                     numberPayload(QStringLiteral("short"), c.words, 2, isSigned));
}

Checked<QByteArray> segmentsFrame(const CommandWords& c)
{
    const QStringList parts = tokens(c.words);
    if (parts.size() != protocol::DisplayPositions)
        return Refusal{QStringLiteral("seg takes six hex bytes B6 B5 B4 B3 B2 B1, leftmost first")};
    return addressed(c, protocol::Command::Segments, hexBytes(QStringLiteral("seg"), parts));
}

Checked<QByteArray> brightnessFrame(const CommandWords& c)
{
    if (!c.words.isEmpty())
        return Refusal{
            QStringLiteral("dim takes no arguments; give its payload with --payload HEX")};
    const QString hex = c.options.value("--payload");
    const std::optional<QByteArray> bytes = protocol::bytesFromHex(hex);
    if (!bytes)
        return Refusal{QStringLiteral("--payload: \"%1\" is not hex bytes").arg(quote(hex))};
    return addressed(c, protocol::Command::Brightness, *bytes);
}

Checked<QByteArray> configFrame(const CommandWords& c)
{
    if (!c.words.isEmpty())
        return Refusal{QStringLiteral("config takes no arguments, only --baud and --new-uid")};
    const QString someRate = rates(QStringLiteral(", "), QStringLiteral(" or "));
    if (!c.options.has("--baud"))
        return Refusal{QStringLiteral("config needs --baud %1").arg(someRate)};
    if (!c.options.has("--new-uid"))
        return Refusal{QStringLiteral("config needs --new-uid 0 to 255")};
    const QString rate = c.options.value("--baud");
    // The rate exactly as a module's rate is written: no sign, no leading zero.
    bool isNumber = false;
    const int bitsPerSecond = rate.toInt(&isNumber);
    const std::optional<protocol::Baud> baud = isNumber && QString::number(bitsPerSecond) == rate
                                                   ? protocol::baudForRate(bitsPerSecond)
                                                   : std::nullopt;
    if (!baud)
        return Refusal{QStringLiteral("--baud: \"%1\" is not %2").arg(quote(rate), someRate)};
    const Checked<int> uid =
        boundedNumber(QStringLiteral("--new-uid"), c.options.value("--new-uid"), 0, 255);
    if (!uid)
        return Refusal{uid.message()};
    return protocol::configFrame(protocol::configPayload(*baud, quint8(*uid)));
}

Checked<QByteArray> rawFrame(const CommandWords& c)
{
    const QString hex = c.words.join(QLatin1Char(' '));
    const std::optional<QByteArray> bytes = protocol::bytesFromHex(hex);
    if (!bytes)
        return Refusal{QStringLiteral("raw: \"%1\" is not hex bytes").arg(quote(hex))};
    if (bytes->isEmpty())
        return Refusal{QStringLiteral("raw needs at least one byte")};
    return *bytes;
}

// --signed means the same to every command that takes it.
const Option SignedOption{"--signed", false, nullptr, nullptr, "send as a signed number"};

Option valued(const char* name, const char* valueName)
{
    return Option{name, true, nullptr, valueName, nullptr};
}

// Where a command's examples start in --help, under what it does.
constexpr int ExampleColumn = 25;

} // namespace

const QList<Command>& commands()
{
    static const QList<Command> table = {
        {"text",
         {},
         textFrame,
         QStringLiteral("text STRING"),
         {QStringLiteral("up to %1 characters, shown right-aligned")
              .arg(protocol::DisplayPositions)},
         {QStringLiteral("text HI")}},
        {"dp",
         {},
         decimalPointsFrame,
         QStringLiteral("dp N"),
         {QStringLiteral("decimal points, 0 to %1").arg(protocol::DecimalPointsMax)},
         {QStringLiteral("dp 5")}},
        {"long",
         {SignedOption},
         longFrame,
         QStringLiteral("long VALUE"),
         {QStringLiteral("32-bit number: decimal, 0x hex, or four hex bytes")},
         {QStringLiteral("long 305419896"), QStringLiteral("long --signed -1"),
          QStringLiteral("long 12 34 56 78")}},
        {"short",
         {SignedOption},
         shortFrame,
         QStringLiteral("short VALUE"),
         {QStringLiteral("16-bit number: decimal, 0x hex, or two hex bytes")},
         {QStringLiteral("short 0x1234"), QStringLiteral("short --signed -300")}},
        {"seg",
         {},
         segmentsFrame,
         QStringLiteral("seg B6 B5 B4 B3 B2 B1"),
         {QStringLiteral("six segment patterns in hex, leftmost first")},
         {QStringLiteral("seg 3F 06 5B 4F 66 6D")}},
        {"dim",
         {valued("--payload", "HEX")},
         brightnessFrame,
         QStringLiteral("dim [--payload HEX]"),
         {QStringLiteral("brightness toggle, with the payload the panel would"),
          QStringLiteral("still hold (none by default)")},
         {QStringLiteral("dim --payload \"1E 09 FF\"")}},
        {"config",
         {valued("--baud", "RATE"), valued("--new-uid", "N")},
         configFrame,
         QStringLiteral("config --baud %1 --new-uid N")
             .arg(rates(QStringLiteral("|"), QStringLiteral("|"))),
         {QStringLiteral("tell a module its new baud rate and UID (no UID byte)")},
         {QStringLiteral("config --baud 38400 --new-uid 255")}},
        {"raw",
         {},
         rawFrame,
         QStringLiteral("raw HEX"),
         {QStringLiteral("arbitrary bytes, sent as given")},
         {QStringLiteral("raw \"05 62 20 20 20 20 48 49\"")}},
    };
    return table;
}

const QList<Option>& commandOptions()
{
    static const QList<Option> options = [] {
        QList<Option> list;
        for (const Command& command : commands()) {
            for (const Option& option : command.options) {
                const bool seen = std::any_of(list.cbegin(), list.cend(), [&](const Option& o) {
                    return qstrcmp(o.name, option.name) == 0;
                });
                if (!seen)
                    list.append(option);
            }
        }
        return list;
    }();
    return options;
}

Checked<QByteArray> commandFrame(const Scan& scan, const UidDefault& uid)
{
    if (scan.positional.isEmpty())
        return Refusal{QStringLiteral("no command given; see quendra-send --help")};
    const QString& name = scan.positional.front();
    const auto command =
        std::find_if(commands().cbegin(), commands().cend(),
                     [&](const Command& c) { return name == QLatin1String(c.name); });
    if (command == commands().cend())
        return Refusal{
            QStringLiteral("unknown command \"%1\"; see quendra-send --help").arg(quote(name))};
    for (const Option& option : commandOptions()) {
        const bool owned =
            std::any_of(command->options.cbegin(), command->options.cend(),
                        [&](const Option& o) { return qstrcmp(o.name, option.name) == 0; });
        if (scan.has(option.name) && !owned)
            return Refusal{
                QStringLiteral("%1 is not an option of %2").arg(QLatin1String(option.name), name)};
    }
    const QStringList words = scan.positional.mid(1);
    return command->frame(CommandWords{words, scan, uid});
}

QString commandsHelp()
{
    QString text = QStringLiteral("Commands:\n");
    for (const Command& command : commands()) {
        text += helpEntry(command.usage, command.about);
        for (const QString& example : command.examples)
            text += QString(ExampleColumn, QLatin1Char(' ')) + QStringLiteral("quendra-send ") +
                    example + QLatin1Char('\n');
    }
    return text;
}

QString commandOptionsHelp()
{
    QString text;
    for (const Option& option : commandOptions()) {
        if (!option.help)
            continue;
        QStringList owners;
        for (const Command& command : commands()) {
            for (const Option& o : command.options) {
                if (qstrcmp(o.name, option.name) == 0)
                    owners << QLatin1String(command.name);
            }
        }
        const QString who = owners.size() > 1 ? owners.mid(0, owners.size() - 1).join(", ") +
                                                    QStringLiteral(" and ") + owners.back()
                                              : owners.join(QString());
        text += optionHelp(option, who + QStringLiteral(": ") + QLatin1String(option.help));
    }
    return text;
}

} // namespace send
