#pragma once

#include "tools/emulator/ModuleBus.h"
#include "tools/emulator/ModuleLine.h"

#include <QObject>

// The modules at work: bursts from the line are read as frames, each frame
// goes to the modules on the line (a configuration frame also changes the
// line's rate), and every module that took a frame gives one log line.
class Emulator : public QObject
{
    Q_OBJECT

public:
    Emulator(ModuleLine& line, ModuleBus initial, QObject* parent = nullptr);

    const ModuleBus& bus() const { return m_bus; }
    const ModuleLine& line() const { return m_line; }

    // Handles one burst as if it had arrived on the line.
    void receive(const QByteArray& bytes, const QTime& firstByte);

    // The end of a run (a stop signal, why): what the line still holds is
    // taken and logged, then one line says how the run ended and how many
    // frames it took.
    void finish(const QString& why);

signals:
    void logged(const QString& line);
    // A display, a UID or the line settings changed.
    void changed();

private:
    ModuleLine& m_line;
    ModuleBus m_bus;
    qsizetype m_frames = 0;
};
