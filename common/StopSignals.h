#pragma once

#include <QObject>

// How a program that holds a line is told to stop: SIGINT, SIGTERM and SIGHUP
// (on Windows a console's Ctrl-C, Ctrl-Break or close) are caught, recorded
// and turned into stopRequested() in the event loop, so that a stop takes the
// same path as a normal end: the frame being written finishes, the line is
// released, the program says what it did and exits with 128 + the signal.
// Code that runs outside the event loop (a script's frames and waits) asks
// requested() between frames and waits with pause().
namespace stop {

class StopSignals : public QObject
{
    Q_OBJECT

public:
    // The one object, made by the first call; install() arms the handlers.
    static StopSignals& instance();

signals:
    // Once, for the first stop signal, delivered by the event loop.
    void stopRequested(int signal);

private:
    StopSignals() = default;
    friend void install();
};

// Catches the stop signals from now on, for the rest of the run. Call once,
// after the application object is made; a second call does nothing. A
// signal that was ignored when the program started (nohup, a background
// job of a script) stays ignored: whoever started it asked for that.
void install();

// The first stop signal taken, or 0 while there has been none.
int received();
inline bool requested()
{
    return received() != 0;
}

// 128 + the signal once one was taken, else the status the program would
// have ended with.
int exitStatus(int status);

// "SIGINT", "SIGTERM", "SIGHUP"; on Windows the console event's name.
QString signalName(int signal);

// Sleeps ms milliseconds, or less when a stop signal comes first (or had
// already come). True when it slept the whole time.
bool pause(int ms);

// Waits until the descriptor has something to read (or its end), or a stop
// signal comes: false then. For input a person may still be typing, which
// has no bound of its own. On Windows only the stop already taken counts.
bool awaitInput(int fd);

} // namespace stop
