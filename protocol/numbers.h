#pragma once

#include <QByteArray>

#include <optional>

// Numbers on the line: a payload of width bytes, most significant first,
// the order in which the panel's byte lists read from left to right.
// Negative values go out in two's complement.
namespace protocol {

// The values width bytes can carry as a signed or an unsigned number.
struct NumberRange
{
    qint64 low = 0;
    qint64 high = 0;
};
NumberRange numberRange(int width, bool isSigned);

// The payload of a number; none when width is not 1..4 or the value lies
// outside numberRange(width, isSigned).
std::optional<QByteArray> numberPayload(qint64 value, int width, bool isSigned);

// A payload read back as a number, as the module reads it.
quint64 unsignedFromPayload(const QByteArray& payload);
qint64 signedFromPayload(const QByteArray& payload);

} // namespace protocol
