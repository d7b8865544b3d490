#pragma once

#include "serial/MSComm.h"
#include "tools/send/SendRequest.h"

#include <QString>
#include <QTextStream>

// One frame from the command line sent, and what a script's run does the same
// way: the request's port opened, a failure named, the one way to standard
// error, and what a stop signal leaves said.
namespace send {

// The port the request names, at its line settings.
bool openPort(MSComm& port, const Request& request);

// The port's own message names the device; a COMn name says which mapping
// led there. sent, when given, says how much of a frame left first.
QString portFailure(const Request& request, const MSComm& port, const WriteResult* sent);

// Writes "quendra-send: MESSAGE" to err, control characters escaped, and
// returns status.
int refuse(QTextStream& err, const QString& message, int status);

// What was done when a stop signal ended the run early; returns 128 + the
// signal.
int interrupted(QTextStream& err, const QString& what);

// Prints the frame for --dry-run and --verbose, or opens the port, writes it
// and closes, which confirms it where the line can.
int sendFrame(const Request& request, QTextStream& out, QTextStream& err);

} // namespace send
