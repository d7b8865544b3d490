#pragma once

#include "serial/Line.h"
#include "serial/LineSettings.h"
#include "serial/TelnetReader.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QString>
#include <QTcpSocket>

#include <bitset>
#include <optional>

// A port reached through a terminal server: "rfc2217://HOST:PORT" (Telnet
// with serial-port control, so the line settings are set from here) or
// "socket://HOST:PORT" (the frame's bytes over plain TCP; the server's own
// settings hold).
struct NetworkAddress
{
    enum class Kind
    {
        Rfc2217,
        Socket
    };
    Kind kind = Kind::Rfc2217;
    QString host;
    quint16 port = 0;

    // "HOST:PORT", an IPv6 host in brackets: how every message names the port.
    QString display() const;
};

// Whether the name is meant as a network address (it holds "://"), and so is
// never a device path.
bool isNetworkPortName(const QString& name);

// The address a "rfc2217://HOST:PORT" or "socket://HOST:PORT" name stands for,
// scheme in any letter case, port 1..65535; none for anything else.
std::optional<NetworkAddress> parseNetworkPortName(const QString& name);

// Why parseNetworkPortName refuses a name that holds "://", to tell the
// operator ("ftp://x:1: unknown kind of port \"ftp\"; use rfc2217:// or
// socket://"); empty when it takes the name.
QString networkPortNameProblem(const QString& name);

class NetworkLine : public Line
{
    Q_OBJECT

public:
    // Connecting and, for rfc2217://, agreeing on the line settings take no
    // longer than this in all.
    static constexpr int OpenTimeoutMs = 3000;
    // How long a frame may take to be taken by the network.
    static constexpr int WriteTimeoutMs = 2000;
    // How long a close waits for the server to let go of the device.
    static constexpr int CloseTimeoutMs = 1000;
    // How long a socket:// close waits after connecting and after the last
    // frame, so that the server has opened its device and written the frame.
    static constexpr int SocketSettleMs = 100;
    // What an rfc2217:// close waits beyond the last frame's time on the line.
    static constexpr int LineSettleMs = 20;

    explicit NetworkLine(NetworkAddress address, QObject* parent = nullptr);
    ~NetworkLine() override;

    bool open(const LineSettings& settings, QString* error) override;
    WriteResult write(const QByteArray& frame) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    std::optional<LineSettings> activeSettings() const override;

    const NetworkAddress& address() const { return m_address; }

private:
    bool negotiate(const LineSettings& settings, const QDeadlineTimer& deadline, QString* reason);
    QString negotiationStalled() const;
    void readServer();
    void handle(const TelnetReader::Event& event);
    void handleAnswer(const QByteArray& answer);
    void send(unsigned char code, unsigned char option);
    // A COM-PORT-OPTION command with its value, IACs doubled.
    void sendCommand(unsigned char code, const QByteArray& value);
    void sendSettings();
    QString socketProblem() const;
    void dropConnection();
    void onSocketTrouble();

    NetworkAddress m_address;
    QTcpSocket m_socket;
    TelnetReader m_reader;
    bool m_open = false;
    QElapsedTimer m_lastSent; // since connecting or the last frame
    qsizetype m_lastFrameSize = 0;
    bool m_rateAnswered = false;
    // Inside open, write or close: a failure there is reported by their
    // result, not by failed().
    bool m_busy = false;

    // Negotiation, reset by each open.
    LineSettings m_wanted;
    bool m_settingsSent = false;
    bool m_comPortAgreed = false;
    bool m_binaryAgreed = false;
    bool m_heardServer = false;
    QString m_refusal;
    QByteArray m_serverText; // what the server wrote as text before refusing, as "Port in use"
    std::bitset<256> m_refusedDo;
    std::bitset<256> m_refusedWill;
    std::optional<qint32> m_rate;
    std::optional<QSerialPort::DataBits> m_dataBits;
    std::optional<QSerialPort::Parity> m_parity;
    std::optional<QSerialPort::StopBits> m_stopBits;
};
