#pragma once

#include <QByteArray>

#include <vector>

// Telnet's in-band commands (RFC 854, 855) and the options the network line
// uses: BINARY (RFC 856) and COM-PORT-OPTION (RFC 2217).
namespace telnet {

constexpr unsigned char SE = 240;
constexpr unsigned char SB = 250;
constexpr unsigned char WILL = 251;
constexpr unsigned char WONT = 252;
constexpr unsigned char DO = 253;
constexpr unsigned char DONT = 254;
constexpr unsigned char IAC = 255;

constexpr unsigned char OptionBinary = 0;
constexpr unsigned char OptionComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers each
// with the same code plus ServerOffset.
constexpr unsigned char SetBaudRate = 1;
constexpr unsigned char SetDataSize = 2;
constexpr unsigned char SetParity = 3;
constexpr unsigned char SetStopSize = 4;
constexpr unsigned char SetControl = 5;
// SET-CONTROL's value for no flow control.
constexpr unsigned char NoFlowControl = 1;
constexpr unsigned char ServerOffset = 100;

// The bytes as they go on the wire: every IAC doubled, so that a frame byte
// 0xFF is never read as a command.
QByteArray escape(const QByteArray& bytes);

} // namespace telnet

// Splits what a Telnet server sends into data, option negotiation and
// subnegotiation. Bytes may arrive cut anywhere; whatever is incomplete is
// kept for the next feed. Holds no more than a bounded amount however much
// arrives.
class TelnetReader
{
public:
    struct Event
    {
        enum Kind
        {
            Data,
            Negotiation,
            Subnegotiation,
            Command
        };
        Kind kind = Data;
        unsigned char code = 0;   // Negotiation: WILL/WONT/DO/DONT; Command: the command
        unsigned char option = 0; // Negotiation, Subnegotiation
        QByteArray bytes;         // Data; Subnegotiation: its content, IACs undoubled
        bool truncated = false;   // Subnegotiation longer than MaxSubnegotiation

        bool operator==(const Event& o) const
        {
            return kind == o.kind && code == o.code && option == o.option && bytes == o.bytes &&
                   truncated == o.truncated;
        }
    };

    // A subnegotiation's content beyond this is dropped: the answers the line
    // waits for are a few bytes long.
    static constexpr int MaxSubnegotiation = 64;

    // Appends the events the bytes complete to out; adjacent data bytes of
    // one feed come as one Data event.
    void feed(const char* data, qsizetype size, std::vector<Event>& out);
    void feed(const QByteArray& bytes, std::vector<Event>& out)
    {
        feed(bytes.constData(), bytes.size(), out);
    }

    void reset() { *this = TelnetReader(); }

private:
    enum class State
    {
        Text,
        Iac,
        Option,
        SubOption,
        SubData,
        SubIac
    };

    void endSubnegotiation(std::vector<Event>& out);

    State m_state = State::Text;
    unsigned char m_code = 0;
    unsigned char m_subOption = 0;
    QByteArray m_sub;
    bool m_subTruncated = false;
};
