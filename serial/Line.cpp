#include "serial/Line.h"

QString WriteResult::summary() const
{
    if (size > 0 && sent == size && !ok())
        return QStringLiteral("Frame not confirmed: the far end was not seen to take it; the port "
                              "failed and was closed");
    if (sent == 0)
        return QStringLiteral("Frame not sent: the port failed and was closed");
    return QStringLiteral("Frame cut short: %1 of %2 bytes sent; the port failed and was closed")
        .arg(sent)
        .arg(size);
}
