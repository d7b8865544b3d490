#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The bytes that go to the LED module. Everything here is arithmetic on
// bytes: no widget, no port, no program-wide state. 0x00 is an ordinary byte.
namespace protocol {

// Command codes, the second byte of every command frame.
enum class Command : quint8
{
    Segments = 0x61,      // 'a': six segment patterns
    Text = 0x62,          // 'b': six characters
    DecimalPoints = 0x63, // 'c': one value 0..63
    LongUnsigned = 0x64,  // 'd': four bytes
    LongSigned = 0x65,    // 'e': four bytes
    ShortUnsigned = 0x66, // 'f': two bytes
    ShortSigned = 0x67,   // 'g': two bytes
    Brightness = 0x6E,    // 'n': no payload of its own
};

// UID byte and command code come before every command's payload.
inline constexpr int CommandHeaderLength = 2;

inline constexpr int DisplayPositions = 6;
inline constexpr int DecimalPointsMax = (1 << DisplayPositions) - 1; // 63

// The payload length a command always carries; none for brightness, whose
// frame carries whatever the previous command left in the payload buffer.
std::optional<int> payloadLength(quint8 code);

// A readable name for a command code ("text", "segments", ...), or none for a
// code the module does not know.
std::optional<QString> commandName(quint8 code);

// UID byte, command code, payload: nothing else, no checksum or terminator.
QByteArray commandFrame(quint8 uid, quint8 code, const QByteArray& payload);

// The module's UID from the text the operator sees: a decimal number, blanks
// around it allowed, a fraction rounded to the nearest whole number with ties
// to the even one. None when it is not a number or does not land in 0..255.
std::optional<quint8> uidFromText(const QString& text);

// The payload of a row of lists, leftmost first: each list's selected
// position is the byte it stands for. A list with no selected item (-1) or a
// position beyond one byte gives no payload at all, and missing says which
// list it was, counted from 1.
struct ListBytes
{
    std::optional<QByteArray> bytes;
    int missing = 0;
};
ListBytes bytesFromPositions(const QList<int>& positions);

// Blanks go in front up to six characters: the module shows text
// right-aligned. Nothing is ever cut.
QString padText(const QString& text);

// The payload of the text command: the padded text, one byte per character.
QByteArray textPayload(const QString& text);

// Line rates a module can be told to take, and their codes on the line.
enum class Baud
{
    B9600,
    B19200,
    B38400
};
struct BaudOption
{
    Baud baud;
    int rate;
    quint8 code;
};
// Every rate a module knows, slowest first: the order of the panel's menu
// and options.
inline constexpr BaudOption BaudOptions[] = {
    {Baud::B9600, 9600, 0x24},
    {Baud::B19200, 19200, 0x12},
    {Baud::B38400, 38400, 0x09},
};
inline constexpr quint8 ConfigMarker = 0x1E;
quint8 baudCode(Baud baud);
int baudRate(Baud baud);
// The rate behind a baud code, or none for a code that no module knows.
std::optional<int> baudRateForCode(quint8 code);
// The option for a rate in bits per second, or none for a rate no module knows.
std::optional<Baud> baudForRate(int rate);

// What the configuration handler leaves in the payload buffer:
// 0x1E, baud code, new UID.
QByteArray configPayload(Baud baud, quint8 newUid);
// The configuration frame: one more 0x1E in front of that payload.
QByteArray configFrame(const QByteArray& configPayload);

} // namespace protocol
