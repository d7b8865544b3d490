#include "serial/PeerText.h"

#include <QList>

namespace {

QString escaped(char32_t c)
{
    if (c == U'\\')
        return QStringLiteral("\\\\");
    const QChar::Category category = QChar::category(c);
    const bool shown = category != QChar::Other_Control && category != QChar::Other_Format &&
                       category != QChar::Other_Surrogate && category != QChar::Other_NotAssigned &&
                       category != QChar::Separator_Line && category != QChar::Separator_Paragraph;
    if (shown)
        return QString::fromUcs4(&c, 1);
    if (c < 0x100)
        return QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    return QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
}

} // namespace

QString peerText(const QByteArray& said, int maxChars)
{
    const QString text = QString::fromUtf8(said).simplified();
    QString out;
    int shownChars = 0;
    for (const uint c : text.toUcs4()) {
        const QString piece = escaped(char32_t(c));
        const int width = piece.size() == 2 && piece[0].isHighSurrogate() ? 1 : int(piece.size());
        if (shownChars + width > maxChars)
            return out + QStringLiteral("...");
        out += piece;
        shownChars += width;
    }
    return out;
}
