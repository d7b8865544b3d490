#pragma once

#include "common/Checked.h"

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

// The line settings every module starts with, and what a tool uses when
// nothing else is given.
inline constexpr char DefaultLineSettings[] = "9600,n,8,1";

// Accepts a positive whole baud rate, parity n/e/o/m/s in either case, data
// bits 5..8 and stop bits 1, 1.5 or 2, with blanks around each field. None
// for anything else.
std::optional<LineSettings> parseLineSettings(const QString& text);

// The inverse: "9600,n,8,1", parity as a small letter, 1.5 stop bits as
// "1.5".
QString formatLineSettings(const LineSettings& settings);

// How many bits one character takes on the line at these settings: start
// bit, data bits, parity bit, stop bits (1.5 counted as 2).
int bitsPerCharacter(const LineSettings& settings);

// The line settings of one of the module's rates: no parity, 8 data bits,
// 1 stop bit, as the panel's "Baud Rate" menu gives them.
LineSettings moduleLineSettings(int baudRate);

// Puts the settings on an open QSerialPort, flow control off. Refused,
// naming the field the port refused, when any does not take.
Checked<void> applyLineSettings(QSerialPort& port, const LineSettings& settings);
