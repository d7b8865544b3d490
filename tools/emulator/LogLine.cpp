#include "tools/emulator/LogLine.h"

#include "protocol/hex.h"
#include "protocol/printable.h"

// The meaning may name a device or carry what the system said about it: a
// log read on a terminal shows it, never obeys it.
QString logLine(const QTime& time, const QByteArray& bytes, const QString& meaning)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") +
           protocol::hexText(bytes) + QStringLiteral("  ") + protocol::printable(meaning);
}
