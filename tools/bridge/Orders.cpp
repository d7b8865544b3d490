#include "tools/bridge/Orders.h"

#include "protocol/hex.h"
#include "protocol/protocol.h"
#include "tools/send/Commands.h"

#include <QRegularExpression>

namespace bridge {

namespace {

// The frame quendra-send would build from "NAME WORDS... [OPTIONS]".
Checked<QByteArray> sendFrame(const char* name, const QStringList& words, const QString& uid,
                              const QList<QPair<QString, QString>>& options = {})
{
    send::Scan scan;
    scan.positional << QLatin1String(name) << words;
    for (const auto& option : options) {
        scan.given.insert(option.first);
        scan.values.insert(option.first, option.second);
    }
    const send::UidDefault uidDefault{uid, QStringLiteral("the topic's UID")};
    return send::commandFrame(scan, uidDefault);
}

// A decimal number as the bus writes one: a sign only for a negative value.
std::optional<qint64> decimal(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^-?[0-9]{1,19}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// The module's UID as a topic level: 0 to 255 written the shortest way, so
// that one module has one state topic.
std::optional<int> uidLevel(const QString& level)
{
    const std::optional<qint64> n = decimal(level);
    if (!n || *n < 0 || *n > 255 || QString::number(*n) != level)
        return std::nullopt;
    return int(*n);
}

Checked<Order> stated(const Checked<QByteArray>& frame, const QString& key, const QByteArray& state)
{
    if (!frame)
        return Refusal{frame.message()};
    return Order{key, *frame, key, state};
}

Checked<Order> numberOrder(const char* name, const QString& key, const QString& uid,
                           const QString& text)
{
    const std::optional<qint64> value = decimal(text);
    if (!value)
        return Refusal{
            QStringLiteral("%1: \"%2\" is not a decimal number").arg(QLatin1String(name), text)};
    const QString canonical = QString::number(*value);
    QList<QPair<QString, QString>> options;
    if (*value < 0)
        options.append({QStringLiteral("--signed"), QString()});
    return stated(sendFrame(name, {canonical}, uid, options), key, canonical.toLatin1());
}

// A command of one module: PREFIX/LINE/UID/COMMAND/set.
Checked<Order> moduleOrder(const QString& uidText, const QString& command,
                           const QByteArray& payload)
{
    const std::optional<int> uid = uidLevel(uidText);
    if (!uid)
        return Refusal{QStringLiteral("\"%1\" is not a UID 0 to 255").arg(uidText)};
    const QString key = QStringLiteral("%1/%2").arg(*uid).arg(command);
    const QString text = QString::fromUtf8(payload);
    const QString value = text.trimmed();
    if (command == QLatin1String("text"))
        return stated(sendFrame("text", {text}, uidText), key, payload);
    if (command == QLatin1String("dp")) {
        const std::optional<qint64> n = decimal(value);
        if (!n)
            return Refusal{QStringLiteral("dp: \"%1\" is not a number 0 to %2")
                               .arg(value)
                               .arg(protocol::DecimalPointsMax)};
        return stated(sendFrame("dp", {QString::number(*n)}, uidText), key, QByteArray::number(*n));
    }
    if (command == QLatin1String("long"))
        return numberOrder("long", key, uidText, value);
    if (command == QLatin1String("short"))
        return numberOrder("short", key, uidText, value);
    if (command == QLatin1String("segments")) {
        const Checked<QByteArray> frame = sendFrame("seg", {value}, uidText);
        if (!frame)
            return Refusal{frame.message()};
        return Order{key, *frame, key,
                     protocol::hexText(frame->mid(protocol::CommandHeaderLength)).toLatin1()};
    }
    if (command == QLatin1String("brightness")) {
        if (value != QLatin1String("toggle"))
            return Refusal{QStringLiteral("brightness takes only \"toggle\"")};
        // Two toggles are not one: a toggle is never dropped for a newer one.
        const Checked<QByteArray> frame = sendFrame("dim", {}, uidText);
        if (!frame)
            return Refusal{frame.message()};
        return Order{QString(), *frame, key, QByteArrayLiteral("toggle")};
    }
    return Refusal{QStringLiteral("unknown command \"%1\"").arg(command)};
}

} // namespace

bool isTopicLevel(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') ||
            c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

std::optional<TopicParts> splitTopic(const QString& prefix, const QString& topic)
{
    if (!topic.startsWith(prefix + QLatin1Char('/')))
        return std::nullopt;
    QStringList levels = topic.mid(prefix.size() + 1).split(QLatin1Char('/'));
    for (const QString& level : levels) {
        if (!isTopicLevel(level))
            return std::nullopt;
    }
    if (levels.size() < 2)
        return std::nullopt;
    const QString line = levels.takeFirst();
    return TopicParts{line, levels};
}

Checked<Order> orderFor(const QStringList& levels, const QByteArray& payload,
                        const Permissions& allowed)
{
    if (payload.size() > MaxPayload)
        return Refusal{QStringLiteral("payload of %1 bytes is longer than %2")
                           .arg(payload.size())
                           .arg(MaxPayload)};
    // An empty message is how a retained one is cleared, never a value: a
    // blank display is a text of blanks.
    if (payload.isEmpty())
        return Refusal{QStringLiteral("an empty payload is no value")};
    if (levels.isEmpty() || levels.back() != QLatin1String("set"))
        return Refusal{QStringLiteral("a command topic ends in /set")};
    if (levels.size() == 3)
        return moduleOrder(levels[0], levels[1], payload);
    if (levels.size() != 2)
        return Refusal{QStringLiteral("not a command topic: LINE/UID/COMMAND/set")};

    const QString& command = levels[0];
    const QString value = QString::fromUtf8(payload).trimmed();
    if (command == QLatin1String("raw")) {
        if (!allowed.raw)
            return Refusal{QStringLiteral("raw frames are off; start the bridge with --allow-raw")};
        const Checked<QByteArray> frame = sendFrame("raw", {value}, QString());
        if (!frame)
            return Refusal{frame.message()};
        return Order{QString(), *frame, QString(), QByteArray()};
    }
    if (command == QLatin1String("config")) {
        if (!allowed.config)
            return Refusal{
                QStringLiteral("config frames are off; start the bridge with --allow-config")};
        // "RATE NEWUID": every module on the line takes both.
        const QStringList words = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() != 2)
            return Refusal{QStringLiteral("config takes \"RATE NEWUID\", such as \"9600 5\"")};
        const Checked<QByteArray> frame = sendFrame(
            "config", {}, QString(),
            {{QStringLiteral("--baud"), words[0]}, {QStringLiteral("--new-uid"), words[1]}});
        if (!frame)
            return Refusal{frame.message()};
        return Order{QString(), *frame, QString(), QByteArray()};
    }
    return Refusal{QStringLiteral("unknown command \"%1\"").arg(command)};
}

} // namespace bridge
