#pragma once

#include "common/Checked.h"
#include "serial/LineSettings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What quendra-emulator's command line asks for, read and checked before
// anything is opened or shown, so that the rules can be tried in-process.
struct EmulatorOptions
{
    enum Mode
    {
        Run,
        Help,
        Version
    };
    Mode mode = Run;
    bool pty = false; // else port
    QString link;     // with pty: a symbolic link to make to it
    QString port;     // a serial device
    LineSettings line;
    QList<std::optional<quint8>> uids; // one module per entry; none: any UID
    int gapMs = 0;                     // 0: the line's own idle gap
    bool headless = false;
};

// The options from argv (the program's name first). A refusal's message is
// the one line to print after "quendra-emulator: "; its exit status is 2.
Checked<EmulatorOptions> parseEmulatorOptions(const QStringList& arguments);

// What --help prints.
QString emulatorHelp();
