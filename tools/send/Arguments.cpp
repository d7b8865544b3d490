#include "tools/send/Arguments.h"

#include "common/CommandLine.h"
#include "protocol/printable.h"
#include "protocol/protocol.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <limits>

namespace send {

namespace {

const Option* findOption(const QList<Option>& known, const QString& name)
{
    for (const Option& option : known) {
        if (name == QLatin1String(option.name) ||
            (option.alias && name == QLatin1String(option.alias)))
            return &option;
    }
    return nullptr;
}

} // namespace

const QList<Option>& programOptions()
{
    static const QList<Option> options = {
        {"--port", true, nullptr, "COMn|DEVICE",
         "port: COMn through the [Ports] mapping, or a device path"},
        {"--settings", true, nullptr, "TEXT", "line settings, such as 9600,n,8,1"},
        {"--uid", true, nullptr, "N", "UID of the module addressed, 0 to 255"},
        {"--script", true, nullptr, "FILE", "one command a line from FILE (- for standard input)"},
        {"--dry-run", false, nullptr, nullptr, "print the frame in hex; open nothing", "--verbose"},
        {"--verbose", false, "-v", nullptr, "print the frame in hex, then send it", "--dry-run"},
        {"--quiet", false, "-q", nullptr, "no progress line for a long script"},
        {"--list-ports", false, nullptr, nullptr, "serial devices, and where COM1 to COM6 lead"},
        {"--json", false, nullptr, nullptr, "with --list-ports: the list as JSON"},
        {"--help", false, "-h", nullptr, "this text"},
        {"--version", false, nullptr, nullptr, "the program's name and version"},
    };
    return options;
}

QString helpEntry(const QString& usage, const QStringList& about)
{
    // Where the text starts; a usage reaching past it puts the text on the
    // next line, one that ends close to it keeps two blanks.
    constexpr int AboutColumn = 23;
    constexpr int LongestInline = 25;
    const QString indent(AboutColumn, QLatin1Char(' '));
    const QString left = QStringLiteral("  ") + usage + QStringLiteral("  ");
    const QString first = left.size() > LongestInline
                              ? QStringLiteral("  ") + usage + QLatin1Char('\n') + indent
                              : left.leftJustified(AboutColumn);
    return first + about.join(QLatin1Char('\n') + indent) + QLatin1Char('\n');
}

QString optionHelp(const Option& option, const QString& about)
{
    QString usage;
    if (option.alias)
        usage += QLatin1String(option.alias) + QStringLiteral(", ");
    usage += QLatin1String(option.name);
    if (option.valueName)
        usage += QLatin1Char(' ') + QLatin1String(option.valueName);
    return helpEntry(usage, {about});
}

Checked<Scan> scanArguments(const QStringList& args, const QList<Option>& known)
{
    // "-5" is a negative number, not an option.
    const auto negativeNumber = [](const QString& arg) {
        return arg.size() > 1 && arg.at(1) >= QLatin1Char('0') && arg.at(1) <= QLatin1Char('9');
    };
    Scan scan;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-") ||
            negativeNumber(arg)) {
            scan.positional.append(arg);
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
        const Option* option = findOption(known, name);
        if (!option || (!option->takesValue && inlineValue))
            return Refusal{QStringLiteral("unknown option %1. %2")
                               .arg(quote(arg), cli::tryHelp("quendra-send"))};
        const QString longName = QLatin1String(option->name);
        if (option->excludes && scan.given.contains(QLatin1String(option->excludes)))
            return Refusal{QStringLiteral("%1 and %2 ask for opposite things; give one")
                               .arg(QLatin1String(option->excludes), longName)};
        if (option->takesValue && scan.given.contains(longName))
            return Refusal{QStringLiteral("%1 given twice; give it once").arg(longName)};
        if (option->takesValue) {
            if (!inlineValue) {
                if (i + 1 >= args.size())
                    return Refusal{QStringLiteral("%1 needs a value").arg(longName)};
                inlineValue = args.at(++i);
            }
            scan.values.insert(longName, *inlineValue);
        }
        scan.given.insert(longName);
    }
    return scan;
}

std::optional<Number> parseNumber(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]+$"));
    static const QRegularExpression hex(QStringLiteral("^0[xX][0-9A-Fa-f]+$"));
    const bool isHex = hex.match(text).hasMatch();
    if (!isHex && !decimal.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = isHex ? text.mid(2).toLongLong(&ok, 16) : text.toLongLong(&ok, 10);
    if (ok)
        return Number{value, isHex};
    const bool negative = text.startsWith(QLatin1Char('-'));
    return Number{
        negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max(), isHex};
}

Checked<int> boundedNumber(const QString& what, const QString& text, int low, int high)
{
    const std::optional<Number> n = parseNumber(text);
    if (!n)
        return Refusal{QStringLiteral("%1: \"%2\" is not a whole number").arg(what, quote(text))};
    const bool signRefused = low >= 0 && text.startsWith(QLatin1Char('-'));
    if (n->value < low || n->value > high || signRefused)
        return Refusal{QStringLiteral("%1: %2 is out of range %3 to %4")
                           .arg(what, quote(text))
                           .arg(low)
                           .arg(high)};
    return int(n->value);
}

std::optional<quint8> uidFromWord(const QString& text)
{
    static const QRegularExpression unsignedNumber(QStringLiteral("^[0-9]*(?:\\.[0-9]*)?$"));
    if (!unsignedNumber.match(text).hasMatch())
        return std::nullopt;
    return protocol::uidFromText(text);
}

QString quote(const QString& text)
{
    return protocol::printable(text, protocol::QuotedChars);
}

std::optional<int> firstLineNotUtf8(const QByteArray& text)
{
    int line = 1;
    for (qsizetype start = 0; start < text.size(); ++line) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        [[maybe_unused]] const QString decoded = decoder(text.mid(start, end - start));
        if (decoder.hasError())
            return line;
        start = end + 1;
    }
    return std::nullopt;
}

} // namespace send
