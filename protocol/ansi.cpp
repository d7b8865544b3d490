#include "protocol/ansi.h"

namespace protocol {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; a zero marks the five
// codes it leaves undefined, which the system's conversion passes through as
// the byte of the same value.
constexpr char16_t HighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,      //
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char byteFor(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    if (unit <= 0x9F && HighControls[unit - 0x80] == 0)
        return static_cast<char>(unit);
    for (int i = 0; i < 32; ++i) {
        if (HighControls[i] != 0 && HighControls[i] == unit)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QByteArray toAnsi(const QString& text)
{
    // Per UTF-16 unit, as the text field counts characters: a character
    // outside the basic plane becomes "??", never a shorter payload.
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text)
        bytes.append(byteFor(c.unicode()));
    return bytes;
}

QString fromAnsi(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char b : bytes) {
        const auto value = static_cast<unsigned char>(b);
        if (value >= 0x80 && value <= 0x9F && HighControls[value - 0x80] != 0)
            text.append(QChar(HighControls[value - 0x80]));
        else
            text.append(QChar(value));
    }
    return text;
}

} // namespace protocol
