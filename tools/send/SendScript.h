#pragma once

#include "tools/send/SendRequest.h"

#include <QTextStream>

// A script run through one open port: its text read (a file or standard
// input, bounded), every line checked before the port opens, the frames
// confirmed every few, the progress line where a person watches, and a stop
// signal heard between frames.
namespace send {

// The frames of request.script, or with --dry-run what they would be;
// returns the exit status.
int sendScript(const Request& request, QTextStream& out, QTextStream& err, bool errIsTerminal);

} // namespace send
