#include "window/PanelPicture.h"

#include <QResource>

#include <cstring>

namespace {

// A decimal number of one to five digits at pos, followed by one blank or
// line end; pos moves past both. -1 for anything else.
int headerNumber(const QByteArray& ppm, qsizetype& pos)
{
    int value = 0;
    int digits = 0;
    while (pos < ppm.size() && ppm[pos] >= '0' && ppm[pos] <= '9' && digits < 5) {
        value = value * 10 + (ppm[pos] - '0');
        ++pos;
        ++digits;
    }
    if (digits == 0 || pos >= ppm.size() || (ppm[pos] != ' ' && ppm[pos] != '\n'))
        return -1;
    ++pos;
    return value;
}

} // namespace

QImage imageFromPpm(const QByteArray& ppm)
{
    if (!ppm.startsWith("P6\n") && !ppm.startsWith("P6 "))
        return {};
    qsizetype pos = 3;
    const int width = headerNumber(ppm, pos);
    const int height = headerNumber(ppm, pos);
    const int maximum = headerNumber(ppm, pos);
    if (width <= 0 || height <= 0 || maximum != 255)
        return {};
    const qsizetype rowBytes = qsizetype(width) * 3;
    if (ppm.size() - pos != rowBytes * height)
        return {};
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull())
        return {};
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), ppm.constData() + pos + rowBytes * y, size_t(rowBytes));
    return image;
}

QImage panelPicture(const QString& resourcePath)
{
    const QResource resource(resourcePath);
    if (!resource.isValid())
        return {};
    return imageFromPpm(resource.uncompressedData());
}
