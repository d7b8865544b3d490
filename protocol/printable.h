#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Text that came from outside the program (an operator's word, a device
// name, what a terminal server or a module said) is shown, never obeyed:
// on a terminal an ESC starts a control sequence and a BEL rings, so every
// control character is written as an escape, and the message stays one line.
namespace protocol {

// How much of an operator's word a message quotes: enough to recognise it,
// never a whole megabyte line back at them.
inline constexpr qsizetype QuotedChars = 40;

// The text with C0 and C1 control characters and DEL as "\x1b", format
// characters (the bidirectional controls, which reorder what follows them on
// the line), line and paragraph separators and unassigned code points as
// "\u202e". With maxChars at or above zero, at most that many characters of
// the text are kept (never half of one), "..." marking the cut.
QString printable(QStringView text, qsizetype maxChars = -1);

// Bytes that should be UTF-8: a broken sequence shows as U+FFFD.
QString printable(const QByteArray& utf8, qsizetype maxChars = -1);

} // namespace protocol
