#include "LogLine.h"

QString hexBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString logLine(const QTime& time, const QByteArray& bytes, const QString& meaning)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") + hexBytes(bytes) +
           QStringLiteral("  ") + meaning;
}
