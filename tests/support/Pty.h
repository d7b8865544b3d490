#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal standing in for a serial port: the program under test
// opens devicePath(), the test reads what arrived from the other end.
class Pty
{
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool isValid() const { return m_master >= 0; }
    QString devicePath() const { return m_path; }

    // Everything that arrives until the line stays idle for idleMs, waiting
    // at most timeoutMs for the first byte.
    QByteArray read(int timeoutMs = 1000, int idleMs = 50);
    // Bytes written towards the program, as a module would answer.
    bool write(const QByteArray& bytes);

    // Closes both ends, as when a USB adapter is pulled out.
    void vanish();

    int masterFd() const { return m_master; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
