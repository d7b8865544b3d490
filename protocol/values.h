#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Numbers and hexadecimal text turned into payload bytes, for callers that
// take values as typed text rather than from the panel's byte lists.
namespace protocol {

// A number as width bytes, most significant first: the order in which the
// panel's byte lists read from left to right. Negative values go out in two's
// complement. None when the value does not fit width bytes as a signed
// (isSigned) or an unsigned number.
std::optional<QByteArray> numberPayload(qint64 value, int width, bool isSigned);

// One byte as a byte list shows it: one or two hexadecimal digits ("7",
// "0F", "ff"), an optional "0x" in front.
std::optional<quint8> byteFromHex(const QString& text);

// Bytes from hexadecimal text such as "05 62 20", "056220" or "05:62,20":
// groups separated by blanks, commas, colons or dashes, each an even number
// of digits (or a single digit for one byte), "0x" allowed in front of a
// group. None for anything else; an empty text gives no bytes.
std::optional<QByteArray> bytesFromHex(const QString& text);

// The bytes as "05 62 20", upper case, as an operator reads them off the
// panel's lists.
QString hexText(const QByteArray& bytes);

} // namespace protocol
