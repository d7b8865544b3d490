#pragma once

#include "serial/ComPortSettings.h"
#include "serial/Line.h"
#include "serial/LineSettings.h"
#include "serial/PortName.h"
#include "serial/TelnetReader.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QString>
#include <QTcpSocket>

#include <bitset>
#include <functional>
#include <optional>
#include <vector>

class NetworkLine : public Line
{
    Q_OBJECT

public:
    // Looking the host up, connecting and, for rfc2217://, agreeing on the
    // line settings take no longer than this in all.
    static constexpr int OpenTimeoutMs = 3000;
    // How long a frame may take to be taken by the network.
    static constexpr int WriteTimeoutMs = 2000;
    // How long an rfc2217:// server may take to answer the question that
    // confirms the frames before it, beyond the time those frames and the
    // ones still ahead of them need on the device's line: a server stops
    // reading while its device is full.
    static constexpr int ConfirmTimeoutMs = 1000;
    // How long a close waits at most for the confirmed frames to leave the
    // device: a serial driver holds 4 KiB, 4.6 s at 9600 baud.
    static constexpr int SettleLimitMs = 5000;
    // How long a close waits for the server to let go of the device.
    static constexpr int CloseTimeoutMs = 1000;
    // How long a socket:// line counts a frame as still on its way after
    // connecting and after the frame, so that the server has opened its
    // device and written the frame before the close.
    static constexpr int SocketSettleMs = 100;
    // What an rfc2217:// close waits beyond the confirmed frames' time on
    // the line.
    static constexpr int LineSettleMs = 20;
    // How much of what a server said a message quotes.
    static constexpr int ServerTextChars = 80;
    // What the connection holds of the server's bytes at most; more is left
    // with the network until it has been read and dropped.
    static constexpr qint64 ReadBufferBytes = qint64(64) * 1024;

    explicit NetworkLine(NetworkAddress address, QObject* parent = nullptr);
    ~NetworkLine() override;

    Checked<void> open(const LineSettings& settings) override;
    WriteResult write(const QByteArray& frame) override;
    // rfc2217://: asks the server a question after the frames and waits for
    // its answer; it handles the stream in order, so the answer means every
    // frame before it has gone to its device. socket:// can ask nothing:
    // success means only that the server has neither hung up nor reset
    // the connection so far.
    Checked<void> confirm() override;
    Checked<void> close() override;
    bool isOpen() const override { return m_open; }
    std::optional<LineSettings> activeSettings() const override;

    const NetworkAddress& address() const { return m_address; }

private:
    Checked<void> connectWithin(const QDeadlineTimer& deadline);
    Checked<void> negotiate(const LineSettings& settings, const QDeadlineTimer& deadline);
    QString negotiationStalled() const;
    // Reads and drops what the server sends, a buffer at a time, until stop()
    // holds, the connection is gone or the deadline has passed. The deadline
    // is looked at on every pass, however much keeps arriving.
    void waitUntil(const std::function<bool()>& stop, const QDeadlineTimer& deadline);
    Checked<void> confirmWritten();
    // Waits until the last frame has had its time on the device's line.
    Checked<void> settle();
    // Says no more is coming and waits, bounded, for the server to hang up.
    void release();
    void readServer();
    void handle(const TelnetReader::Event& event);
    void handleAnswer(const QByteArray& answer);
    void keepServerText(const QByteArray& bytes);
    void send(unsigned char code, unsigned char option);
    // A COM-PORT-OPTION command with its value, IACs doubled.
    void sendCommand(unsigned char code, const QByteArray& value);
    QString socketProblem() const;
    QString named(const QString& reason) const;
    void dropConnection();
    void onSocketTrouble();

    NetworkAddress m_address;
    QTcpSocket m_socket;
    TelnetReader m_reader;
    bool m_open = false;
    // Inside open, write, confirm or close: a failure there is reported by
    // their result, not by failed().
    bool m_busy = false;

    QElapsedTimer m_clock;      // since connecting
    qint64 m_settledAtMs = 0;   // when the frames written so far have left the device
    qint64 m_pendingLineUs = 0; // the line time of the frames not yet confirmed
    bool m_unconfirmed = false;
    int m_questions = 0; // confirming questions asked and not yet answered

    // Negotiation, reset by each open.
    LineSettings m_wanted;
    std::vector<ComPortSetting> m_settings;
    bool m_settingsSent = false;
    bool m_comPortAgreed = false;
    bool m_binaryAgreed = false;
    bool m_heardServer = false;
    QString m_refusal;       // why the server can no longer be used, once it says so
    QByteArray m_serverText; // the last text it wrote, as "Port in use" before hanging up
    std::bitset<256> m_refusedDo;
    std::bitset<256> m_refusedWill;
};
