#include "tools/emulator/LogLine.h"

#include "protocol/hex.h"

QString logLine(const QTime& time, const QByteArray& bytes, const QString& meaning)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") +
           protocol::hexText(bytes) + QStringLiteral("  ") + meaning;
}
