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
};

// Highest n a "COMn" key of section "Ports" may carry.
inline constexpr int MaxPortNumber = 255;

StartupSettings ReadStartupSettings();

} // namespace modINI
