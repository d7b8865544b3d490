#include "tools/emulator/SevenSegmentDisplay.h"

#include "tools/emulator/SegmentFont.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

// One digit in its own units: 1 wide, 2 high, segments 0.2 thick.
constexpr double Thickness = 0.2;
constexpr double Gap = 0.03;
constexpr double Slant = 0.12; // sideways lean per unit of height

struct SegmentLine
{
    quint8 bit;
    QPointF from;
    QPointF to;
};

constexpr SegmentLine Segments[] = {
    {segment::A, {0, 0}, {1, 0}}, {segment::B, {1, 0}, {1, 1}}, {segment::C, {1, 1}, {1, 2}},
    {segment::D, {0, 2}, {1, 2}}, {segment::E, {0, 1}, {0, 2}}, {segment::F, {0, 0}, {0, 1}},
    {segment::G, {0, 1}, {1, 1}},
};

// A long hexagon along the line from p to q, pointed at both ends so that
// neighbouring segments meet at a mitre.
QPolygonF segmentShape(QPointF p, QPointF q)
{
    const QPointF d = q - p;
    const double length = std::hypot(d.x(), d.y());
    const QPointF u = d / length;
    const QPointF n(-u.y(), u.x());
    const double h = Thickness / 2;
    return QPolygonF({p + u * Gap, p + u * (Gap + h) + n * h, q - u * (Gap + h) + n * h,
                      q - u * Gap, q - u * (Gap + h) - n * h, p + u * (Gap + h) - n * h});
}

} // namespace

SevenSegmentDisplay::SevenSegmentDisplay(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setAccessibleName(QStringLiteral("six-digit display"));
}

void SevenSegmentDisplay::setPatterns(
    const std::array<quint8, protocol::DisplayPositions>& patterns, bool dim)
{
    m_patterns = patterns;
    m_dim = dim;
    update();
}

QSize SevenSegmentDisplay::sizeHint() const
{
    return {560, 170};
}

QSize SevenSegmentDisplay::minimumSizeHint() const
{
    return {280, 85};
}

void SevenSegmentDisplay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(0x14, 0x10, 0x10));

    const QColor lit = m_dim ? QColor(0x8a, 0x1e, 0x10) : QColor(0xff, 0x3a, 0x1e);
    const QColor unlit(0x36, 0x18, 0x16);

    // Each digit takes 1.6 units of width (digit, decimal point, spacing),
    // and the whole row keeps a margin of one unit around it.
    const int count = int(m_patterns.size());
    const double unitsWide = count * 1.6 + 1.0;
    const double unitsHigh = 2.0 + 2 * 0.5;
    const double scale = std::min(width() / unitsWide, height() / unitsHigh);
    const double left = (width() - (count * 1.6 - 0.6) * scale) / 2;
    const double top = (height() - 2.0 * scale) / 2;

    painter.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        QTransform t;
        t.translate(left + i * 1.6 * scale, top);
        t.scale(scale, scale);
        // Lean the digit to the right, pivoting on its baseline.
        t = QTransform(1, 0, -Slant, 1, Slant * 2, 0) * t;
        painter.setTransform(t);
        const quint8 pattern = m_patterns[size_t(i)];
        for (const SegmentLine& s : Segments) {
            painter.setBrush((pattern & s.bit) ? lit : unlit);
            painter.drawPolygon(segmentShape(s.from, s.to));
        }
        painter.setBrush((pattern & segment::DP) ? lit : unlit);
        painter.drawEllipse(QPointF(1.28, 2.0 - 0.02), 0.13, 0.13);
    }
}
