#include "window/GroupFrame.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace {

constexpr int CaptionIndent = 6; // from the group's left edge to the caption's gap
constexpr int CaptionPad = 2;    // blank on each side of the caption text

} // namespace

GroupFrame::GroupFrame(QWidget* parent) : QGroupBox(parent) {}

void GroupFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const QRect caption(CaptionIndent, 0, metrics.horizontalAdvance(title()) + 2 * CaptionPad,
                        metrics.height());

    // An etched border whose top line runs through the middle of the caption.
    painter.save();
    if (!title().isEmpty())
        painter.setClipRegion(QRegion(rect()) - caption);
    qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1);
    painter.restore();

    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextSingleLine, palette(),
                          isEnabled(), title(), QPalette::WindowText);
}
