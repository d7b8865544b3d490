#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

// Line settings as the operator writes them: baud rate, parity letter, data
// bits and stop bits separated by commas, as in "9600,n,8,1".
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    bool operator==(const LineSettings& other) const
    {
        return baudRate == other.baudRate && parity == other.parity && dataBits == other.dataBits &&
               stopBits == other.stopBits;
    }
};

// Accepts a positive whole baud rate, parity n/e/o/m/s in either case, data
// bits 5..8 and stop bits 1, 1.5 or 2, with blanks around each field. None
// for anything else.
std::optional<LineSettings> parseLineSettings(const QString& text);
