#pragma once

#include "common/Checked.h"
#include "tools/send/Arguments.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// quendra-send's commands: each one's name, options, frame and help live in
// one entry of one table; scanning, option checks, dispatch and --help all
// read that table.
namespace send {

// The UID a command frame goes to when its own words give no --uid, and
// where it came from, for naming it in a refusal ("SlaveID in quendra.ini").
struct UidDefault
{
    QString text;
    QString origin;
};

// One command's words after its name, and the options scanned with it.
struct CommandWords
{
    const QStringList& words;
    const Scan& options;
    const UidDefault& uid;
};

struct Command
{
    const char* name;
    QList<Option> options; // what the command takes besides the options every command takes
    Checked<QByteArray> (*frame)(const CommandWords&);
    QString usage;        // "text STRING"
    QStringList about;    // what it does, one or more lines
    QStringList examples; // quendra-send's arguments, one example each
};

const QList<Command>& commands();

// Every option some command owns, once each, in the table's order.
const QList<Option>& commandOptions();

// The frame of a scanned command line: its first word names the command,
// the rest are the command's words. Refused when no such command exists or
// an option given belongs to another command.
Checked<QByteArray> commandFrame(const Scan& scan, const UidDefault& uid);

// The "Commands:" part of --help, and the lines of the options that
// commands own and --help lists among the options ("--signed").
QString commandsHelp();
QString commandOptionsHelp();

} // namespace send
