#include "protocol/printable.h"

#include <QList>

namespace protocol {

namespace {

// Control characters (C0, DEL, C1), format characters (the bidirectional
// controls that reorder what follows them, zero-width joiners), line and
// paragraph separators, and code points that are no character at all.
bool obeyedRatherThanShown(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

} // namespace

QString printable(QStringView text, qsizetype maxChars)
{
    const QList<uint> codePoints = text.toUcs4();
    const bool cut = maxChars >= 0 && codePoints.size() > maxChars;
    const qsizetype kept = cut ? maxChars : codePoints.size();
    QString out;
    out.reserve(kept + (cut ? 3 : 0));
    for (qsizetype i = 0; i < kept; ++i) {
        const auto c = char32_t(codePoints[i]);
        if (!obeyedRatherThanShown(c))
            out += QString::fromUcs4(&c, 1);
        else if (c < 0x100)
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
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
