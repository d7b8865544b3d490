#include "tools/send/Ports.h"

#include "protocol/printable.h"
#include "serial/MSComm.h"
#include "serial/PortName.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace send {

namespace {

// The panel's "Comm Port" menu offers COM1 to COM6.
constexpr int MenuPorts = 6;

QString stateName(MappedPort::State state)
{
    switch (state) {
    case MappedPort::Present:
        return QStringLiteral("present");
    case MappedPort::Absent:
        return QStringLiteral("absent");
    case MappedPort::Network:
        return QStringLiteral("network");
    }
    return {};
}

// Rows as columns two blanks apart; an empty field shows as "-". Names come
// from the settings file and from the devices themselves, so they are shown
// escaped.
QString columns(QList<QStringList> rows)
{
    for (QStringList& row : rows) {
        for (QString& field : row)
            field = protocol::printable(field);
    }
    QList<int> widths;
    for (const QStringList& row : rows) {
        for (int i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], int(std::max<qsizetype>(1, row.at(i).size())));
        }
    }
    QString text;
    for (const QStringList& row : rows) {
        QString line = QStringLiteral("  ");
        for (int i = 0; i < row.size(); ++i) {
            const QString field = row.at(i).isEmpty() ? QStringLiteral("-") : row.at(i);
            line += field.leftJustified(widths.at(i)) + QStringLiteral("  ");
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QJsonValue orNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

QList<MappedPort> mappedPorts(const QMap<int, QString>& ports)
{
    QList<MappedPort> mapped;
    for (int n = 1; n <= MenuPorts; ++n) {
        MappedPort port;
        port.number = n;
        port.fromIni = ports.contains(n);
        port.device = ports.value(n, platformPortName(n));
        if (isNetworkPortName(port.device))
            port.state = MappedPort::Network;
        else
            port.state = portPresent(port.device) ? MappedPort::Present : MappedPort::Absent;
        mapped.append(port);
    }
    return mapped;
}

QString portsText(const QList<SerialDevice>& devices, const QList<MappedPort>& ports)
{
    QString text = QStringLiteral("Serial devices:\n");
    if (devices.isEmpty()) {
        text += QStringLiteral("  (none)\n");
    } else {
        QList<QStringList> rows = {{QStringLiteral("DEVICE"), QStringLiteral("BY-ID"),
                                    QStringLiteral("DESCRIPTION"), QStringLiteral("MANUFACTURER"),
                                    QStringLiteral("USB"), QStringLiteral("SERIAL")}};
        for (const SerialDevice& d : devices)
            rows.append(
                {d.location, d.byId, d.description, d.manufacturer, d.usbId, d.serialNumber});
        text += columns(rows);
    }
    text += QStringLiteral("\nCOM ports (section \"Ports\" of quendra.ini, else the default):\n");
    QList<QStringList> rows = {{QStringLiteral("PORT"), QStringLiteral("DEVICE"),
                                QStringLiteral("FROM"), QStringLiteral("STATE")}};
    for (const MappedPort& p : ports)
        rows.append({QStringLiteral("COM%1").arg(p.number), p.device,
                     p.fromIni ? QStringLiteral("quendra.ini") : QStringLiteral("default"),
                     stateName(p.state)});
    text += columns(rows);
    return text;
}

QByteArray portsJson(const QList<SerialDevice>& devices, const QList<MappedPort>& ports)
{
    QJsonArray deviceList;
    for (const SerialDevice& d : devices)
        deviceList.append(QJsonObject{{QStringLiteral("location"), d.location},
                                      {QStringLiteral("byId"), orNull(d.byId)},
                                      {QStringLiteral("description"), orNull(d.description)},
                                      {QStringLiteral("manufacturer"), orNull(d.manufacturer)},
                                      {QStringLiteral("usb"), orNull(d.usbId)},
                                      {QStringLiteral("serialNumber"), orNull(d.serialNumber)}});
    QJsonArray portList;
    for (const MappedPort& p : ports)
        portList.append(
            QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(p.number)},
                        {QStringLiteral("device"), p.device},
                        {QStringLiteral("from"),
                         p.fromIni ? QStringLiteral("quendra.ini") : QStringLiteral("default")},
                        {QStringLiteral("state"), stateName(p.state)}});
    return QJsonDocument(QJsonObject{{QStringLiteral("devices"), deviceList},
                                     {QStringLiteral("ports"), portList}})
        .toJson(QJsonDocument::Indented);
}

} // namespace send
