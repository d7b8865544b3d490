#include "protocol/protocol.h"

#include "protocol/ansi.h"

namespace protocol {

std::optional<int> payloadLength(quint8 code)
{
    switch (static_cast<Command>(code)) {
    case Command::Segments:
    case Command::Text:
        return DisplayPositions;
    case Command::DecimalPoints:
        return 1;
    case Command::LongUnsigned:
    case Command::LongSigned:
        return 4;
    case Command::ShortUnsigned:
    case Command::ShortSigned:
        return 2;
    case Command::Brightness:
        break;
    }
    return std::nullopt;
}

std::optional<QString> commandName(quint8 code)
{
    switch (static_cast<Command>(code)) {
    case Command::Segments:
        return QStringLiteral("segments");
    case Command::Text:
        return QStringLiteral("text");
    case Command::DecimalPoints:
        return QStringLiteral("decimal points");
    case Command::LongUnsigned:
        return QStringLiteral("long unsigned");
    case Command::LongSigned:
        return QStringLiteral("long signed");
    case Command::ShortUnsigned:
        return QStringLiteral("short unsigned");
    case Command::ShortSigned:
        return QStringLiteral("short signed");
    case Command::Brightness:
        return QStringLiteral("brightness");
    }
    return std::nullopt;
}

QByteArray commandFrame(quint8 uid, quint8 code, const QByteArray& payload)
{
    QByteArray frame;
    frame.reserve(CommandHeaderLength + payload.size());
    frame.append(static_cast<char>(uid));
    frame.append(static_cast<char>(code));
    frame.append(payload);
    return frame;
}

std::optional<quint8> uidFromText(const QString& text)
{
    // A sign, digits, and digits after a point, read by hand: the expression
    // engine would be loaded for this alone.
    const QString trimmed = text.trimmed();
    QStringView rest(trimmed);
    const auto digitsFrom = [&rest] {
        qsizetype n = 0;
        while (n < rest.size() && rest[n] >= QLatin1Char('0') && rest[n] <= QLatin1Char('9'))
            ++n;
        QString digits = rest.left(n).toString();
        rest = rest.mid(n);
        return digits;
    };
    const bool negative = rest.startsWith(QLatin1Char('-'));
    if (negative || rest.startsWith(QLatin1Char('+')))
        rest = rest.mid(1);
    QString whole = digitsFrom();
    QString fraction;
    if (rest.startsWith(QLatin1Char('.'))) {
        rest = rest.mid(1);
        fraction = digitsFrom();
    }
    if (!rest.isEmpty() || (whole.isEmpty() && fraction.isEmpty()))
        return std::nullopt;

    // Decide the rounding on the digits themselves, so that no binary
    // fraction can turn a tie into a near-tie.
    while (whole.size() > 1 && whole.front() == QLatin1Char('0'))
        whole.remove(0, 1);
    if (whole.size() > 3)
        return std::nullopt;
    int value = whole.isEmpty() ? 0 : whole.toInt();
    if (!fraction.isEmpty()) {
        const QChar first = fraction.front();
        const bool restIsZero = fraction.mid(1).count(QLatin1Char('0')) == fraction.size() - 1;
        if (first > QLatin1Char('5') || (first == QLatin1Char('5') && !restIsZero) ||
            (first == QLatin1Char('5') && restIsZero && value % 2 == 1))
            ++value;
    }
    if (negative && value != 0)
        return std::nullopt;
    if (value > 255)
        return std::nullopt;
    return static_cast<quint8>(value);
}

ListBytes bytesFromPositions(const QList<int>& positions)
{
    QByteArray bytes;
    bytes.reserve(positions.size());
    for (int i = 0; i < positions.size(); ++i) {
        if (positions[i] < 0 || positions[i] > 0xFF)
            return {std::nullopt, i + 1};
        bytes.append(static_cast<char>(positions[i]));
    }
    return {bytes, 0};
}

QString padText(const QString& text)
{
    if (text.size() >= DisplayPositions)
        return text;
    return QString(DisplayPositions - text.size(), QLatin1Char(' ')) + text;
}

QByteArray textPayload(const QString& text)
{
    return toAnsi(padText(text));
}

namespace {

const BaudOption& optionOf(Baud baud)
{
    for (const BaudOption& option : BaudOptions) {
        if (option.baud == baud)
            return option;
    }
    return BaudOptions[0];
}

} // namespace

quint8 baudCode(Baud baud)
{
    return optionOf(baud).code;
}

int baudRate(Baud baud)
{
    return optionOf(baud).rate;
}

std::optional<int> baudRateForCode(quint8 code)
{
    for (const BaudOption& option : BaudOptions) {
        if (option.code == code)
            return option.rate;
    }
    return std::nullopt;
}

std::optional<Baud> baudForRate(int rate)
{
    for (const BaudOption& option : BaudOptions) {
        if (option.rate == rate)
            return option.baud;
    }
    return std::nullopt;
}

QByteArray configPayload(Baud baud, quint8 newUid)
{
    QByteArray payload;
    payload.append(static_cast<char>(ConfigMarker));
    payload.append(static_cast<char>(baudCode(baud)));
    payload.append(static_cast<char>(newUid));
    return payload;
}

QByteArray configFrame(const QByteArray& configPayload)
{
    return QByteArray(1, static_cast<char>(ConfigMarker)) + configPayload;
}

} // namespace protocol
