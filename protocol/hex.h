#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Bytes written and read as hexadecimal text, the way an operator reads them
// off the panel's byte lists: capital digits, two per byte.
namespace protocol {

// The bytes as "05 62 20".
QString hexText(const QByteArray& bytes);

// One byte as "0x1E", for naming a code in a message.
QString hexByte(quint8 value);

// One byte as a byte list shows it: one or two hexadecimal digits ("7",
// "0F", "ff"), an optional "0x" in front.
std::optional<quint8> byteFromHex(const QString& text);

// Bytes from hexadecimal text such as "05 62 20", "056220" or "05:62,20":
// groups separated by blanks, commas, colons or dashes, each an even number
// of digits (or a single digit for one byte), "0x" allowed in front of a
// group; a comma, colon or dash only right after a group and before the
// next. None for anything else; an empty text gives no bytes.
std::optional<QByteArray> bytesFromHex(const QString& text);

} // namespace protocol
