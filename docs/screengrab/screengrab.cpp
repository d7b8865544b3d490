// Saves the one window on an otherwise empty X display, cut to its edges.
// The screenshot script runs it beside the panel on a virtual display
// whose root is black, so everything that is not black is the window.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>

namespace {

QRect drawnArea(const QImage& screen)
{
    const QRgb background = screen.pixel(0, 0);
    QRect area;
    for (int y = 0; y < screen.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x)
            if ((line[x] & 0xffffff) != (background & 0xffffff))
                area |= QRect(x, y, 1, 1);
    }
    return area;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png MIN-WIDTH\n", argv[0]);
        return 2;
    }
    const int minWidth = QString::fromLocal8Bit(argv[2]).toInt();

    // The panel draws itself some time after it starts; the picture is
    // taken once the window is there and two grabs in a row agree.
    QImage previous;
    for (int attempt = 0; attempt < 100; ++attempt) {
        QThread::msleep(200);
        const QImage screen =
            QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
                QImage::Format_RGB32);
        const QRect area = drawnArea(screen);
        if (area.width() < minWidth)
            continue;
        const QImage window = screen.copy(area);
        if (window == previous)
            return window.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
        previous = window;
    }
    std::fprintf(stderr, "no window of at least %d pixels appeared\n", minWidth);
    return 1;
}
