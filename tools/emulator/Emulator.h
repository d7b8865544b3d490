#pragma once

#include "tools/emulator/ModuleLine.h"
#include "tools/emulator/ModuleState.h"

#include <QObject>

// The module at work: bursts from the line are read as frames, each frame
// changes the module's state (a configuration frame also the line's rate),
// and every frame gives one log line.
class Emulator : public QObject
{
    Q_OBJECT

public:
    Emulator(ModuleLine& line, const ModuleState& initial, QObject* parent = nullptr);

    const ModuleState& state() const { return m_state; }
    const ModuleLine& line() const { return m_line; }

    // Handles one burst as if it had arrived on the line.
    void receive(const QByteArray& bytes, const QTime& firstByte);

signals:
    void logged(const QString& line);
    // The display, the UID or the line settings changed.
    void changed();

private:
    ModuleLine& m_line;
    ModuleState m_state;
};
