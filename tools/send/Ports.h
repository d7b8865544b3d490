#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// quendra-send --list-ports: which serial devices the machine has, and where
// the panel's COM1 to COM6 lead, so that a test station can tell which name
// to put in quendra.ini or pass to --port.
namespace send {

// Stable names of USB serial adapters, links to the devices themselves.
inline constexpr char ByIdFolder[] = "/dev/serial/by-id";

struct SerialDevice
{
    QString location;     // "/dev/ttyUSB0"
    QString byId;         // the name under the by-id folder that links to it, if any
    QString description;  // "FT232R USB UART"
    QString manufacturer; // "FTDI"
    QString usbId;        // "0403:6001"; empty for a device that is not on USB
    QString serialNumber;
};

// Every serial device the system reports, with its name under byIdFolder
// (Linux only: Windows has no such folder).
QList<SerialDevice> serialDevices(const QString& byIdFolder = QLatin1String(ByIdFolder));

// Whether the system has the device a COM port leads to: a device file on
// Linux, a defined COMn on Windows.
bool portPresent(const QString& device);

struct MappedPort
{
    enum State
    {
        Present,
        Absent,
        Network // a terminal server's address: not checked from here
    };
    int number = 0; // n of COMn
    QString device;
    bool fromIni = false; // section "Ports" names it, rather than the platform's default
    State state = Present;
};

// COM1 to COM6, as the panel's menu offers them, through section "Ports".
QList<MappedPort> mappedPorts(const QMap<int, QString>& ports);

// The two lists as plain columns, or as one JSON object for scripts.
QString portsText(const QList<SerialDevice>& devices, const QList<MappedPort>& ports);
QByteArray portsJson(const QList<SerialDevice>& devices, const QList<MappedPort>& ports);

} // namespace send
