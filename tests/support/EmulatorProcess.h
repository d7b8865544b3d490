#pragma once

#include "tests/support/Process.h"

#include <QProcess>
#include <QStringList>

// quendra-emulator run headless as a child process: its first line of
// output is the device it listens on, each further line one frame.
class EmulatorProcess
{
public:
    static constexpr int WaitMs = 10000; // only a broken emulator takes this long

    ~EmulatorProcess() { stopChild(m_process, WaitMs); }

    // Starts it with --headless and the arguments; true once it told its device.
    bool start(const QStringList& arguments)
    {
        m_process.start(QUENDRA_EMULATOR_PATH, QStringList{"--headless"} + arguments);
        m_device = m_process.waitForStarted(WaitMs) ? nextLine() : QString();
        return !m_device.isEmpty();
    }
    QString device() const { return m_device; }

    // The next line it prints, or an empty text when none comes.
    QString nextLine()
    {
        while (!m_process.canReadLine()) {
            if (m_process.state() == QProcess::NotRunning || !m_process.waitForReadyRead(WaitMs))
                return {};
        }
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    bool finished()
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(WaitMs);
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QString m_device;
};
