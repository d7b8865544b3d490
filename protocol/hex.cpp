#include "protocol/hex.h"

#include <QRegularExpression>

namespace protocol {

namespace {

QString withoutHexPrefix(const QString& text)
{
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return text.mid(2);
    return text;
}

bool allHexDigits(const QString& text)
{
    for (QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}

} // namespace

QString hexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString hexByte(quint8 value)
{
    return QStringLiteral("0x") + hexText(QByteArray(1, static_cast<char>(value)));
}

std::optional<quint8> byteFromHex(const QString& text)
{
    const QString digits = withoutHexPrefix(text.trimmed());
    if (digits.isEmpty() || digits.size() > 2 || !allHexDigits(digits))
        return std::nullopt;
    return static_cast<quint8>(digits.toUInt(nullptr, 16));
}

std::optional<QByteArray> bytesFromHex(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,:-]+"));
    // A comma, colon or dash follows a group and leads to the next one;
    // anywhere else it is no separator: "-1" is a sign, not the byte 01.
    static const QRegularExpression strayMark(
        QStringLiteral("(?:^|\\s)[,:-]|[,:-]\\s*(?:[,:-]|$)"));
    if (text.contains(strayMark))
        return std::nullopt;
    QByteArray bytes;
    for (const QString& group : text.split(separators, Qt::SkipEmptyParts)) {
        const QString digits = withoutHexPrefix(group);
        if (digits.isEmpty() || !allHexDigits(digits))
            return std::nullopt;
        if (digits.size() == 1) {
            bytes.append(static_cast<char>(digits.toUInt(nullptr, 16)));
            continue;
        }
        if (digits.size() % 2 != 0)
            return std::nullopt;
        bytes.append(QByteArray::fromHex(digits.toLatin1()));
    }
    return bytes;
}

} // namespace protocol
