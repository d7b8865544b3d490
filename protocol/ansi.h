#pragma once

#include <QByteArray>
#include <QString>

namespace protocol {

// One byte per character in Windows-1252, the code page the module's users
// have always typed in. A character the code page lacks becomes '?', so a
// text never changes length on its way to the line.
QByteArray toAnsi(const QString& text);

// The inverse, for showing received bytes as text.
QString fromAnsi(const QByteArray& bytes);

} // namespace protocol
