#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

// One log line per frame: time of its first byte, its bytes, what it meant.
// "12:04:31.207  01 62 20 20 20 20 48 49  UID 1 text '    HI'"
QString logLine(const QTime& time, const QByteArray& bytes, const QString& meaning);
