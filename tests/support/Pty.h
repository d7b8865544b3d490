#pragma once

#include "serial/PseudoTerminal.h"

#include <QByteArray>
#include <QString>

// A pseudo-terminal standing in for a serial port: the program under test
// opens devicePath(), the test reads what arrived from the other end.
class Pty : public PseudoTerminal
{
public:
    QString devicePath() const { return path(); }

    // Everything that arrives until the line stays idle for idleMs, waiting
    // at most timeoutMs for the first byte.
    QByteArray read(int timeoutMs = 1000, int idleMs = 50);
    // Bytes written towards the program, as a module would answer.
    bool write(const QByteArray& bytes);

    // Closes both ends, as when a USB adapter is pulled out.
    void vanish() { close(); }

    int masterFd() const { return master(); }
};

// The rate a terminal device runs at, as the system reports it to any
// process that opens it (a Bxxx code); -1 when it cannot be read.
int ttySpeed(const QString& path);

// Whether the terminal device is marked for exclusive use (1 or 0), as root
// reads it; -1 when it cannot be read.
int exclusiveFlag(const QString& path);

// n bytes counting up from 0 and wrapping: every byte value, each where a
// lost or moved one shows.
inline QByteArray countingBytes(qsizetype n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = char(i & 0xff);
    return bytes;
}
