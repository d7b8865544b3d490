#pragma once

#include <QProcess>
#include <QStringList>

// quendra-emulator run headless as a child process: its first line of
// output is the device it listens on, each further line one frame.
class EmulatorProcess
{
public:
    // Generous: only a broken emulator takes this long to answer.
    static constexpr int WaitMs = 10000;

    ~EmulatorProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(WaitMs))
                m_process.kill();
            m_process.waitForFinished(WaitMs);
        }
    }

    // Starts it with --headless and the given arguments; true once it has
    // told its device.
    bool start(const QStringList& arguments)
    {
        m_process.setProgram(QStringLiteral(QUENDRA_EMULATOR_PATH));
        m_process.setArguments(QStringList{QStringLiteral("--headless")} + arguments);
        m_process.start();
        if (!m_process.waitForStarted(WaitMs))
            return false;
        m_device = nextLine();
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

    // Whether it prints anything within ms: for checking that nothing came.
    bool printsWithin(int ms) { return m_process.canReadLine() || m_process.waitForReadyRead(ms); }

    // Waits for it to end, if it has not already; true once it has.
    bool finished()
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(WaitMs);
    }

    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QString m_device;
};
