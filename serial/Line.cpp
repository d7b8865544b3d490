#include "serial/Line.h"

#include "serial/DeviceLine.h"

QString WriteResult::summary() const
{
    if (sent == 0)
        return QStringLiteral("Frame not sent: the port failed and was closed");
    return QStringLiteral("Frame cut short: %1 of %2 bytes sent; the port failed and was closed")
        .arg(sent)
        .arg(size);
}

std::unique_ptr<Line> lineFor(const QString& name)
{
    return std::make_unique<DeviceLine>(name);
}
