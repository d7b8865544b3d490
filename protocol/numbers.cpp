#include "protocol/numbers.h"

namespace protocol {

NumberRange numberRange(int width, bool isSigned)
{
    const int bits = 8 * width;
    if (isSigned)
        return {-(qint64(1) << (bits - 1)), (qint64(1) << (bits - 1)) - 1};
    return {0, (qint64(1) << bits) - 1};
}

std::optional<QByteArray> numberPayload(qint64 value, int width, bool isSigned)
{
    if (width < 1 || width > 4)
        return std::nullopt;
    const NumberRange range = numberRange(width, isSigned);
    if (value < range.low || value > range.high)
        return std::nullopt;
    const auto pattern = quint64(value); // two's complement for a negative value
    QByteArray bytes;
    for (int shift = 8 * width - 8; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((pattern >> shift) & 0xFF));
    return bytes;
}

quint64 unsignedFromPayload(const QByteArray& payload)
{
    quint64 value = 0;
    for (char byte : payload)
        value = (value << 8) | quint8(byte);
    return value;
}

qint64 signedFromPayload(const QByteArray& payload)
{
    const quint64 raw = unsignedFromPayload(payload);
    const int bits = int(payload.size()) * 8;
    if (bits == 0 || bits >= 64)
        return qint64(raw);
    const quint64 sign = quint64(1) << (bits - 1);
    return (raw & sign) ? qint64(raw) - qint64(quint64(1) << bits) : qint64(raw);
}

} // namespace protocol
