#pragma once

#include "common/Checked.h"

#include <QMap>
#include <QString>

// What the panel and quendra-send take from "quendra.ini" when they start:
// the three settings texts exactly as written, and the devices that section
// "Ports" names for COMn. Read once; a later edit counts at the next start.
namespace modINI {

struct StartupSettings
{
    QString commPort; // "CommPort": "1" stands for COM1
    QString settings; // "Setting": line settings, such as "9600,n,8,1"
    QString slaveId;  // "SlaveID": the UID addressed first
    // Key "COMn" of section "Ports" -> the port name it gives: a device path
    // (a relative one counted from the program's folder) or a network port.
    QMap<int, QString> ports;
    QString filePath;       // where the file was looked for
    bool fileFound = false; // false: every text above is empty
};

StartupSettings ReadStartupSettings();

// The port CommPort names, a number from 1 to highest; anything else is
// refused in words that say what to do, a missing file named with the path
// looked for.
Checked<int> configuredCommPort(const StartupSettings& settings, int highest);

// The refusal's addition when no port was given and the file is missing;
// empty when the file is there.
QString missingFileNote(const StartupSettings& settings);

} // namespace modINI
