#pragma once

#include "common/Version.h"

#include <QString>

// What the three programs have in common on the command line: how they
// answer --version, how they point at --help, and the exit statuses that
// scripts and service managers branch on.
namespace cli {

enum ExitStatus : int
{
    Success = 0,
    BadUsage = 2,     // unknown or repeated option, options that contradict, a bad value
    PortFailure = 3,  // the port would not open, a write failed or the line went away
    BrokerRefused = 4 // quendra-bridge: the broker refused the login, or no client could be made
};

// "quendra-send 1.0.0": the answer to --version.
inline QString versionLine(const char* program)
{
    return QStringLiteral("%1 %2\n").arg(QLatin1String(program), QLatin1String(QuendraVersion));
}

// Put after the refusal of an unknown option, on the same line.
inline QString tryHelp(const char* program)
{
    return QStringLiteral("Try '%1 --help'.").arg(QLatin1String(program));
}

} // namespace cli
