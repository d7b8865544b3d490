// The serial devices of a Windows machine: the "Ports" device class as
// SetupAPI lists it (the name Device Manager shows, the maker, the USB ids
// and serial number from the device's ids), and then every COM port the
// registry's SERIALCOMM key names that SetupAPI did not (a driver without a
// device node, or wine, which has only the key).
#include "tools/send/Ports.h"

#include <QRegularExpression>
#include <QSet>

// Without Winsock, whose send() would meet this program's own namespace.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <setupapi.h>

#include <algorithm>

namespace send {

namespace {

// The "Ports (COM & LPT)" device setup class.
constexpr GUID PortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

QString registryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    wchar_t text[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(text), sizeof text - 2, nullptr))
        return {};
    // A list of strings (the hardware ids) gives its first.
    return QString::fromWCharArray(text);
}

QString portNameOf(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - 2;
    DWORD type = 0;
    const LONG read =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? QString::fromWCharArray(name) : QString();
}

QString instanceId(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    wchar_t id[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, DWORD(std::size(id) - 1), nullptr))
        return {};
    return QString::fromWCharArray(id);
}

// "USB\VID_0403&PID_6001\A12345" or "FTDIBUS\VID_0403+PID_6001+A12345A\0000":
// the USB ids as "0403:6001", and the serial number where the id carries one
// (a composite device's generated instance holds '&' and is none).
void readUsbIds(const QString& id, SerialDevice& device)
{
    static const QRegularExpression ids(
        QStringLiteral("VID_([0-9A-F]{4})[&+]PID_([0-9A-F]{4})(?:\\+([^\\\\]+))?"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = ids.match(id);
    if (!match.hasMatch())
        return;
    device.usbId = match.captured(1).toLower() + QLatin1Char(':') + match.captured(2).toLower();
    QString serial = match.captured(3);
    if (serial.isEmpty() && id.startsWith(QLatin1String("USB\\"), Qt::CaseInsensitive))
        serial = id.section(QLatin1Char('\\'), 2, 2);
    // FTDI's bus driver adds the channel letter to the chip's number.
    if (id.startsWith(QLatin1String("FTDIBUS\\"), Qt::CaseInsensitive) && serial.size() > 1)
        serial.chop(1);
    if (!serial.contains(QLatin1Char('&')))
        device.serialNumber = serial;
}

QList<SerialDevice> setupApiDevices()
{
    QList<SerialDevice> devices;
    const HDEVINFO set = SetupDiGetClassDevsW(&PortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const QString port = portNameOf(set, device);
        // The class also holds printer ports.
        if (!port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
            continue;
        SerialDevice found;
        found.location = port;
        found.description = registryProperty(set, device, SPDRP_FRIENDLYNAME);
        if (found.description.isEmpty())
            found.description = registryProperty(set, device, SPDRP_DEVICEDESC);
        found.manufacturer = registryProperty(set, device, SPDRP_MFG);
        readUsbIds(instanceId(set, device), found);
        devices.append(found);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: the kernel's name of each serial
// device -> its COM port.
QList<SerialDevice> serialCommDevices()
{
    QList<SerialDevice> devices;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return devices;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        wchar_t port[64] = {};
        DWORD nameSize = DWORD(std::size(name) - 1);
        DWORD portSize = sizeof port - 2;
        DWORD type = 0;
        const LONG read = RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(port), &portSize);
        if (read == ERROR_NO_MORE_ITEMS)
            break;
        if (read != ERROR_SUCCESS || type != REG_SZ)
            continue;
        SerialDevice found;
        found.location = QString::fromWCharArray(port);
        found.description = QString::fromWCharArray(name);
        devices.append(found);
    }
    RegCloseKey(key);
    return devices;
}

// "COM5" of "\\.\COM5" or "COM5"; empty for any other name.
QString dosName(const QString& device)
{
    const QString name = device.startsWith(QLatin1String("\\\\.\\")) ? device.mid(4) : device;
    return name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ? name : QString();
}

} // namespace

QList<SerialDevice> serialDevices(const QString&)
{
    QList<SerialDevice> devices = setupApiDevices();
    QSet<QString> listed;
    for (const SerialDevice& d : devices)
        listed.insert(d.location.toUpper());
    for (const SerialDevice& d : serialCommDevices()) {
        if (!listed.contains(d.location.toUpper())) {
            listed.insert(d.location.toUpper());
            devices.append(d);
        }
    }
    // COM2 before COM10.
    const auto number = [](const SerialDevice& d) { return d.location.mid(3).toInt(); };
    std::sort(devices.begin(), devices.end(),
              [&number](const SerialDevice& a, const SerialDevice& b) {
                  return number(a) != number(b) ? number(a) < number(b) : a.location < b.location;
              });
    return devices;
}

bool portPresent(const QString& device)
{
    const QString name = dosName(device);
    if (name.isEmpty())
        return GetFileAttributesW(reinterpret_cast<const wchar_t*>(device.utf16())) !=
               INVALID_FILE_ATTRIBUTES;
    wchar_t target[1024];
    return QueryDosDeviceW(reinterpret_cast<const wchar_t*>(name.utf16()), target,
                           DWORD(std::size(target))) != 0;
}

} // namespace send
