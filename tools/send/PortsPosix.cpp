// The serial devices of a Linux machine as Qt SerialPort lists them (udev's
// names, USB ids and serial numbers), with their stable by-id names.
#include "tools/send/Ports.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace send {

namespace {

QString usbId(const QSerialPortInfo& info)
{
    if (!info.hasVendorIdentifier() || !info.hasProductIdentifier())
        return {};
    return QStringLiteral("%1:%2")
        .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
        .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
}

} // namespace

QList<SerialDevice> serialDevices(const QString& byIdFolder)
{
    // Each by-id link under the device it leads to.
    QMap<QString, QString> byId;
    const QFileInfoList links =
        QDir(byIdFolder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& link : links) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !byId.contains(target))
            byId.insert(target, link.fileName());
    }

    QList<SerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString location = info.systemLocation();
        const QString canonical = QFileInfo(location).canonicalFilePath();
        devices.append(SerialDevice{
            location, byId.value(canonical.isEmpty() ? location : canonical), info.description(),
            info.manufacturer(), usbId(info), info.serialNumber()});
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.location < b.location; });
    return devices;
}

bool portPresent(const QString& device)
{
    return QFileInfo::exists(device);
}

} // namespace send
