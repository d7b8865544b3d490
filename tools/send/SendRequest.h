#pragma once

#include "common/Checked.h"
#include "common/CommandLine.h"
#include "settings/Startup.h"
#include "tools/send/Commands.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTextStream>

// quendra-send: frames from the command line or from a script, built by the
// same protocol functions as the panel's buttons. Parsing is apart from
// sending so that scripts' mistakes can be tested without a port.
namespace send {

// What the process ends with; scripts branch on it. The emulator ends with
// the same numbers.
enum ExitStatus : int
{
    Sent = cli::Success,
    BadUsage = cli::BadUsage,      // unknown command or option, value out of range, no port or UID
    PortFailure = cli::PortFailure // the port would not open, or the write failed
};

// What the settings file beside the program offers when the command line
// says nothing: texts exactly as the panel reads them at start.
struct Defaults : modINI::StartupSettings
{
    QString missingFile; // " (PATH is missing; ...)" when there was no file to read

    // Section "Settings" of quendra.ini in the program's folder.
    static Defaults fromIni();
};

// What the command line asks for, and where frames go.
struct Request
{
    enum Mode
    {
        Frame,     // one frame, from the command line
        Script,    // the frames of a script
        ListPorts, // the machine's serial devices and the COMn mapping
        Help,
        Version
    };
    Mode mode = Frame;
    QByteArray frame; // Frame
    QString script;   // Script: its path, "-" for standard input
    UidDefault uid;   // the UID when the words give no --uid
    QString portName; // "COM1" or the device path as given; empty when none is known
    QString device;   // the device that portName stands for
    QString settings; // line settings for the open
    bool dryRun = false;
    bool verbose = false;
    bool quiet = false; // no progress line
    bool json = false;  // ListPorts
};

// args without the program's own name.
Checked<Request> parseArguments(const QStringList& args, const Defaults& defaults);

// Every command with an example, and every option.
QString helpText();

// The name a script goes by in messages: its path, or "<stdin>".
QString scriptName(const QString& path);

// Parses, then prints, sends or reports; returns the exit status. Errors are
// one line on err. Where err is a terminal, a script that runs for more than
// a second shows its progress there. A stop signal (common/StopSignals.h) is
// heard between frames: the run ends saying what was done, with 128 + the
// signal.
int run(const QStringList& args, const Defaults& defaults, QTextStream& out, QTextStream& err,
        bool errIsTerminal = false);

} // namespace send
