#include "protocol/printable.h"

namespace protocol {

namespace {

bool reordersText(char16_t u)
{
    return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
           (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString printable(QStringView text, qsizetype maxChars)
{
    bool cut = maxChars >= 0 && text.size() > maxChars;
    if (cut) {
        // Never half a character outside the basic plane.
        qsizetype keep = maxChars;
        if (keep > 0 && text.at(keep - 1).isHighSurrogate())
            --keep;
        text = text.left(keep);
    }
    QString out;
    out.reserve(text.size() + (cut ? 3 : 0));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029 || reordersText(u))
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (cut)
        out += QStringLiteral("...");
    return out;
}

QString printable(const QByteArray& utf8, qsizetype maxChars)
{
    return printable(QString::fromUtf8(utf8), maxChars);
}

} // namespace protocol
