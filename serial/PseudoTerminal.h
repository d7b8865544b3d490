#pragma once

#include <QString>

// A pseudo-terminal in raw mode at 9600 baud: a serial line that lives in the
// kernel. One program opens path() as its serial device; the owner reads and
// writes the other end, master(), which never blocks. Both ends are closed
// with the object and not inherited by child processes.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isValid() const { return m_master >= 0; }
    // Why there is none, when isValid() is false.
    QString errorString() const { return m_error; }

    QString path() const { return m_path; }
    int master() const { return m_master; }

    // Closes both ends, as when an adapter is pulled out.
    void close();

    // Clears the exclusive-use mark that a program which had the line open
    // and ended without closing it (killed, crashed) left on the device:
    // the mark lasts as long as the master is held, and would refuse every
    // later open but root's. Left alone while a live program has the device
    // open. True when a mark was cleared.
    bool releaseAbandonedClaim();

private:
    int m_master = -1;
    // Held open here too: without it the master reads an error whenever no
    // program has the line open. Not a claim on the line: the check of an
    // open (serial/DeviceHolders.h) knows it as the other end's.
    int m_slave = -1;
    QString m_path;
    QString m_error;
};
