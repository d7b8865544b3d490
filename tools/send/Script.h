#pragma once

#include "common/Checked.h"
#include "tools/send/Commands.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Scripts for quendra-send --script: one command a line in the words of the
// command line, plus "wait MS" and "uid N". A script is read and checked
// whole before anything is sent, so a bad line anywhere sends nothing.
namespace send {

// The longest pause a "wait" line may ask for: an hour.
inline constexpr int MaxWaitMs = 3'600'000;

// The words of one line, split as a shell splits simple quoting: blanks
// separate words; '...' keeps everything as written; "..." keeps everything
// but \" \\ \$ and \` (a backslash before any other character stays);
// outside quotes a backslash keeps the next character; a word starting
// with # starts a comment that runs to the end of the line.
Checked<QStringList> splitWords(const QString& line);

// One thing to do, from one line: a frame to send, or a pause.
struct ScriptStep
{
    int line = 0; // counted from 1
    QByteArray frame;
    int waitMs = 0;

    bool isWait() const { return frame.isEmpty(); }
};

// Every step of a script, or the first line that is wrong, refused as
// "NAME:LINE: reason". A line's own --uid counts for that line only; a "uid"
// line sets the UID of the lines after it, in place of uid.
Checked<QList<ScriptStep>> readScript(const QString& text, const QString& name,
                                      const UidDefault& uid);

} // namespace send
