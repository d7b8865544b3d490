#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Records the system calls that reach one terminal device, and plays the
// line faults a pseudo-terminal cannot have: a transmit queue that never
// empties, a device that fails part-way through a write, a driver that runs
// the line at another rate than asked.
//
// The calls are taken over where the C library would answer them: in a test
// program that links this file (its exported symbols come first), or in a
// child started with environment(), which preloads the shared build of it.
namespace LineTrace {

// Starts recording the calls on device, forgetting the earlier ones and
// every fault.
void watch(const QString& device);
// "write 8", "TIOCOUTQ", "tcdrain", "tcflush", "tcsetattr" (any call that sets the
// terminal), "close"...
QStringList calls();

// Faults, for the watched device only. 0 or -1 turn one off.
void stallOutput(int queued);    // TIOCOUTQ answers queued, for ever
void failWritesAfter(int bytes); // later bytes fail with EIO
void reportSpeed(unsigned rate); // the driver's settings read back this rate

// The same recording in a child process: LD_PRELOAD of the shared library
// at libraryPath, the calls appended to logPath; the environment variable
// QUENDRA_LINETRACE_WRITE_LIMIT plays failWritesAfter there.
QProcessEnvironment environment(const QString& libraryPath, const QString& device,
                                const QString& logPath);
QStringList callsIn(const QString& logPath);

} // namespace LineTrace
