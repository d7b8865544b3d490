// Draws the panel's two pictures: the segment chart shown in "Segment
// Control" and the window icon. The panel takes them as binary PPM
// (segments.ppm, icon.ppm), which it reads without a decoder; the desktop
// takes the icon as PNG (icon.png, icon-64.png, icon-128.png). Run it to
// redraw them all after changing the drawing:
//     cmake --build build --target redraw-resources

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>

#include <cstdio>

namespace {

// The digit is laid out upright in a 61 x 110 box and then slanted forward:
// its top leans 24 pixels to the right of its foot, as on the module. Edges
// sit on pixel centres so that the bars' long sides stay crisp.
constexpr double Left = 2.5, Right = 63.5, Top = 2.5, Bottom = 112.5;
constexpr double Half = 5;  // half the thickness of a bar
constexpr double Gap = 1.5; // between the mitred ends of neighbouring bars
constexpr double Lean = 24.0 / (Bottom - Top);

QPointF slanted(QPointF p)
{
    return {p.x() + Lean * (Bottom - p.y()), p.y()};
}

// An elongated six-sided bar between two points on one axis, its ends cut
// at 45 degrees so that neighbouring bars meet along a mitre.
QPolygonF bar(QPointF from, QPointF to)
{
    QPolygonF shape;
    if (from.y() == to.y()) {
        const double y = from.y(), a = from.x() + Gap, b = to.x() - Gap;
        shape << QPointF(a, y) << QPointF(a + Half, y - Half) << QPointF(b - Half, y - Half)
              << QPointF(b, y) << QPointF(b - Half, y + Half) << QPointF(a + Half, y + Half);
    } else {
        const double x = from.x(), a = from.y() + Gap, b = to.y() - Gap;
        shape << QPointF(x, a) << QPointF(x + Half, a + Half) << QPointF(x + Half, b - Half)
              << QPointF(x, b) << QPointF(x - Half, b - Half) << QPointF(x - Half, a + Half);
    }
    QPolygonF out;
    for (const QPointF& p : shape)
        out << slanted(p);
    return out;
}

QImage segmentChart()
{
    QImage image(100, 120, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);

    const double xl = Left + Half, xr = Right - Half;
    const double yt = Top + Half, ym = (Top + Bottom) / 2, yb = Bottom - Half;
    struct Segment
    {
        const char* name;
        QPointF from, to;
    };
    const Segment segments[] = {
        {"a", {xl, yt}, {xr, yt}}, {"b", {xr, yt}, {xr, ym}}, {"c", {xr, ym}, {xr, yb}},
        {"d", {xl, yb}, {xr, yb}}, {"e", {xl, ym}, {xl, yb}}, {"f", {xl, yt}, {xl, ym}},
        {"g", {xl, ym}, {xr, ym}},
    };

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(10);
    painter.setFont(font);
    for (const Segment& s : segments) {
        const QPolygonF outline = bar(s.from, s.to);
        painter.drawPolygon(outline);
        // Letters sit upright in the middle of their bar, a little high so that
        // the tail of the g stays inside it.
        const QPointF centre = slanted((s.from + s.to) / 2);
        painter.drawText(QRectF(centre.x() - 5, centre.y() - 7, 10, 12), Qt::AlignCenter,
                         QString::fromLatin1(s.name));
    }

    // The decimal point stands right of the digit's foot, named above.
    painter.drawEllipse(QPointF(84, 108), 9, 9);
    painter.drawText(QRectF(76, 88, 16, 10), Qt::AlignCenter, QStringLiteral("DP"));
    return image;
}

// A small slanted digit in greys on black: the panel's subject at icon size.
// Drawn on a 32-unit grid and scaled, so that every size shows the same
// picture (resources/quendra-panel.svg is the same drawing).
QImage windowIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal scale = size / 32.0;
    QTransform lean;
    lean.scale(scale, scale);
    lean.translate(16, 16);
    lean.shear(-0.2, 0);
    lean.translate(-16, -16);
    painter.setTransform(lean);

    const QColor light(0xc8, 0xc8, 0xc8), mid(0x8c, 0x8c, 0x8c), dark(0x55, 0x55, 0x55);
    painter.setBrush(light);
    painter.drawRoundedRect(QRectF(9, 3, 13, 3), 1.5, 1.5);    // top
    painter.drawRoundedRect(QRectF(9, 14.5, 13, 3), 1.5, 1.5); // middle
    painter.drawRoundedRect(QRectF(9, 26, 13, 3), 1.5, 1.5);   // bottom
    painter.setBrush(mid);
    painter.drawRoundedRect(QRectF(5.5, 6, 3, 8.5), 1.5, 1.5);
    painter.drawRoundedRect(QRectF(22.5, 6, 3, 8.5), 1.5, 1.5);
    painter.setBrush(dark);
    painter.drawRoundedRect(QRectF(5.5, 17.5, 3, 8.5), 1.5, 1.5);
    painter.drawRoundedRect(QRectF(22.5, 17.5, 3, 8.5), 1.5, 1.5);
    painter.resetTransform();
    painter.scale(scale, scale);
    painter.setBrush(mid);
    painter.drawEllipse(QPointF(28, 27.5), 2, 2);
    return image;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s RESOURCE-FOLDER\n", qPrintable(args.value(0)));
        return 2;
    }
    const QDir folder(args.at(1));
    // The icon is drawn opaque: PPM keeps no alpha.
    bool written = segmentChart().save(folder.filePath(QStringLiteral("segments.ppm"))) &&
                   windowIcon(32).save(folder.filePath(QStringLiteral("icon.ppm"))) &&
                   windowIcon(32).save(folder.filePath(QStringLiteral("icon.png")));
    // The desktop's menus and software centres take the larger sizes.
    for (const int size : {64, 128})
        written = written &&
                  windowIcon(size).save(folder.filePath(QStringLiteral("icon-%1.png").arg(size)));
    if (!written) {
        std::fprintf(stderr, "cannot write the pictures into %s\n", qPrintable(folder.path()));
        return 1;
    }
    return 0;
}
