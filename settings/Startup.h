#pragma once

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

// Why CommPort names no port from 1 to highest, in words that say what to
// do: a missing file is named with the path looked for.
QString commPortProblem(const StartupSettings& settings, int highest);

// The refusal's addition when no port was given and the file is missing;
// empty when the file is there.
QString missingFileNote(const StartupSettings& settings);

} // namespace modINI
