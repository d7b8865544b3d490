#pragma once

#include "common/Checked.h"
#include "tools/emulator/ModuleState.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Several modules on one line. Each sees every frame: a command frame is
// taken by the modules whose UID it carries, a configuration frame (no UID
// byte) by all of them at once, so that afterwards they all share its UID.
// Modules are numbered from 1 in the order they were given.
class ModuleBus
{
public:
    using ReceivedFrame = protocol::ReceivedFrame;

    // Enough to see addressing at work and still fit the window.
    static constexpr int MaxModules = 16;

    // One module per UID; none stands for a module that answers every UID.
    explicit ModuleBus(const QList<std::optional<quint8>>& uids, int baudRate = 9600);

    struct Outcome
    {
        // One per module that took the frame, or one saying why none did.
        QStringList meanings;
        // Said about the line, not the frame: "3 modules now share UID 9".
        QStringList warnings;
    };
    // Hands one frame to every module. With a single module the meanings
    // read as that module's own ("UID 1 text '    HI'"); with several each
    // names its module ("module 2 (UID 2): text '    HI'").
    Outcome apply(const ReceivedFrame& frame);

    const QList<ModuleState>& modules() const { return m_modules; }
    // The line rate; a configuration frame sets every module's at once.
    int baudRate() const { return m_modules.first().baudRate(); }

    // "3 modules now share UID 9", one for each UID that two or more
    // modules hold.
    QStringList sharedUids() const;

    // Reads "1,2,5", "any" or the count of --modules into UIDs; refused with
    // the reason when the text does not make a line of modules.
    static Checked<QList<std::optional<quint8>>> parseUids(const QString& text);
    static Checked<QList<std::optional<quint8>>> numberedUids(const QString& count);

private:
    QList<ModuleState> m_modules;
};
