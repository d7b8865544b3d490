#pragma once

#include "common/Checked.h"

#include <QString>

#include <optional>

// Line settings as the operator writes them: baud rate, parity letter, data
// bits and stop bits separated by commas, as in "9600,n,8,1".
struct LineSettings
{
    // Numbered as Qt's serial port numbers them, so that a tool holding a
    // QSerialPort (the emulator) hands them on as they are.
    enum Parity
    {
        NoParity = 0,
        EvenParity = 2,
        OddParity = 3,
        SpaceParity = 4,
        MarkParity = 5
    };
    enum DataBits
    {
        Data5 = 5,
        Data6 = 6,
        Data7 = 7,
        Data8 = 8
    };
    enum StopBits
    {
        OneStop = 1,
        OneAndHalfStop = 3,
        TwoStop = 2
    };

    qint32 baudRate = 9600;
    Parity parity = NoParity;
    DataBits dataBits = Data8;
    StopBits stopBits = OneStop;

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

// The small letter the settings text writes a parity with: n, e, o, m or s.
char parityLetter(LineSettings::Parity parity);

// How many bits one character takes on the line at these settings: start
// bit, data bits, parity bit, stop bits (1.5 counted as 2).
int bitsPerCharacter(const LineSettings& settings);

// The line settings of one of the module's rates: no parity, 8 data bits,
// 1 stop bit, as the panel's "Baud Rate" menu gives them.
LineSettings moduleLineSettings(int baudRate);
