#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// The panel's own pictures (the segment chart, the window icon) are binary
// PPM files among its resources: a short text header and the pixels as they
// are, one byte per colour. They are read here straight into an image: no
// decoder to run, and no image-format plugins for Qt to ask first.

// The image that ppm holds: "P6", width, height and 255, separated by single
// blanks or line ends as the drawing program writes them, then exactly
// width x height x 3 bytes. A null image for anything else.
QImage imageFromPpm(const QByteArray& ppm);

// One of the pictures by its resource path; a null image when it is not
// there or not as above.
QImage panelPicture(const QString& resourcePath);
