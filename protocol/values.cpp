#include "values.h"

#include <QRegularExpression>

namespace protocol {

std::optional<QByteArray> numberPayload(qint64 value, int width, bool isSigned)
{
    if (width < 1 || width > 4)
        return std::nullopt;
    const int bits = 8 * width;
    const qint64 low = isSigned ? -(qint64(1) << (bits - 1)) : 0;
    const qint64 high = isSigned ? (qint64(1) << (bits - 1)) - 1 : (qint64(1) << bits) - 1;
    if (value < low || value > high)
        return std::nullopt;
    const auto pattern = quint64(value); // two's complement for a negative value
    QByteArray bytes;
    for (int shift = bits - 8; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((pattern >> shift) & 0xFF));
    return bytes;
}

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

QString hexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace protocol
