// The network line's connection: looking the host up and connecting, the
// open, writing a frame, confirming what was written, and the close that lets
// the frames reach the device's line before hanging up. What is said on the
// connection (the Telnet conversation) is in NetworkLineTelnet.cpp.
#include "serial/NetworkLine.h"

#include "protocol/printable.h"
#include "serial/Deadline.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

NetworkLine::NetworkLine(NetworkAddress address, QObject* parent)
    : Line(parent), m_address(std::move(address))
{
    // A server that keeps talking fills this much and then waits on the
    // network: what it says is read and dropped a buffer at a time.
    m_socket.setReadBufferSize(ReadBufferBytes);
    // Read and dropped as it arrives, so that nothing the server reports
    // piles up while the line is idle.
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        if (m_busy)
            return;
        readServer();
        if (m_open && !m_refusal.isEmpty()) {
            const QString reason = named(m_refusal);
            dropConnection();
            emit failed(reason);
        }
    });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &NetworkLine::onSocketTrouble);
    connect(&m_socket, &QTcpSocket::disconnected, this, &NetworkLine::onSocketTrouble);
}

NetworkLine::~NetworkLine()
{
    // As a close: the server lets go of its device before the program that
    // follows (or this one, started again) connects.
    NetworkLine::close();
    m_busy = true; // no signals from a line being destroyed
}

std::optional<LineSettings> NetworkLine::activeSettings() const
{
    if (!m_open || m_address.kind != NetworkAddress::Kind::Rfc2217)
        return std::nullopt;
    return m_wanted;
}

QString NetworkLine::named(const QString& reason) const
{
    return QStringLiteral("%1: %2").arg(m_address.display(), reason);
}

QString NetworkLine::socketProblem() const
{
    if (m_socket.error() == QAbstractSocket::RemoteHostClosedError ||
        m_socket.state() != QAbstractSocket::ConnectedState) {
        QString text = QStringLiteral("the server closed the connection");
        // A server's words are quoted, never obeyed: one line, escaped, cut.
        const QString said =
            protocol::printable(QString::fromUtf8(m_serverText).simplified(), ServerTextChars);
        if (!said.isEmpty())
            text += QStringLiteral(": ") + said;
        return text;
    }
    return m_socket.errorString();
}

void NetworkLine::dropConnection()
{
    m_open = false;
    m_socket.abort();
}

void NetworkLine::onSocketTrouble()
{
    // A failure inside open, write or close is their result; a zero wait
    // for data is no trouble at all.
    if (m_busy || !m_open || m_socket.error() == QAbstractSocket::SocketTimeoutError)
        return;
    if (m_socket.state() == QAbstractSocket::ConnectedState &&
        m_socket.error() == QAbstractSocket::UnknownSocketError)
        return;
    const QString reason = named(socketProblem());
    dropConnection();
    emit failed(reason);
}

Checked<void> NetworkLine::connectWithin(const QDeadlineTimer& deadline)
{
    const QString noAnswer = QStringLiteral("no answer in %1 s").arg(OpenTimeoutMs / 1000);
    QList<QHostAddress> addresses;
    if (QHostAddress literal; literal.setAddress(m_address.host)) {
        addresses << literal;
    } else {
        // The system's resolver has no time limit of its own: it runs on a
        // thread of its own, left to finish alone when it overruns the open.
        struct Lookup
        {
            std::mutex mutex;
            std::condition_variable done;
            std::optional<QHostInfo> info;
        };
        const auto lookup = std::make_shared<Lookup>();
        std::thread([lookup, host = m_address.host] {
            QHostInfo info = QHostInfo::fromName(host);
            const std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->info = std::move(info);
            lookup->done.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(lookup->mutex);
        if (!lookup->done.wait_for(lock, std::chrono::milliseconds(waits::remainingMs(deadline)),
                                   [&lookup] { return lookup->info.has_value(); }))
            return Refusal{noAnswer};
        if (lookup->info->error() != QHostInfo::NoError || lookup->info->addresses().isEmpty())
            return Refusal{QStringLiteral("host %1 not found").arg(m_address.host)};
        addresses = lookup->info->addresses();
    }
    for (const QHostAddress& address : std::as_const(addresses)) {
        m_socket.abort();
        m_socket.connectToHost(address, m_address.port);
        if (m_socket.waitForConnected(waits::remainingMs(deadline)))
            return {};
        if (deadline.hasExpired())
            break;
    }
    const bool timedOut = deadline.hasExpired() ||
                          m_socket.error() == QAbstractSocket::SocketTimeoutError ||
                          m_socket.error() == QAbstractSocket::UnknownSocketError;
    return Refusal{timedOut ? noAnswer : m_socket.errorString()};
}

Checked<void> NetworkLine::open(const LineSettings& settings)
{
    close();
    const auto failure = [&](const QString& reason) {
        dropConnection();
        m_busy = false;
        return Refusal{named(reason)};
    };
    m_busy = true;
    if (settings.baudRate <= 0)
        return failure(QStringLiteral("%1 is no baud rate").arg(settings.baudRate));

    const QDeadlineTimer deadline = waits::within(OpenTimeoutMs);
    if (const Checked<void> connected = connectWithin(deadline); !connected)
        return failure(connected.message());
    m_clock.start();
    m_unconfirmed = false;
    m_pendingLineUs = 0;
    m_questions = 0;
    m_refusal.clear();
    m_serverText.clear();
    // socket:// cannot tell when the server has opened its device.
    m_settledAtMs = m_address.kind == NetworkAddress::Kind::Socket ? SocketSettleMs : 0;
    // Frames are a few bytes each and should leave at once.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);

    if (m_address.kind == NetworkAddress::Kind::Rfc2217) {
        if (const Checked<void> agreed = negotiate(settings, deadline); !agreed)
            return failure(agreed.message());
    }
    m_open = true;
    m_busy = false;
    return {};
}

WriteResult NetworkLine::write(const QByteArray& frame)
{
    WriteResult result;
    result.size = frame.size();
    if (!m_open) {
        result.error = named(QStringLiteral("the port is not open"));
        return result;
    }
    m_busy = true;
    const auto failure = [&](const QString& reason) {
        result.error = named(reason);
        dropConnection();
        m_busy = false;
        return result;
    };

    // What the server sent since the last write, and whether it hung up
    // or refused meanwhile: a write into a connection the server has closed
    // would seem to succeed and be lost.
    readServer();
    m_socket.waitForReadyRead(0);
    readServer();
    if (!m_refusal.isEmpty())
        return failure(m_refusal);
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return failure(socketProblem());

    const bool telnetLine = m_address.kind == NetworkAddress::Kind::Rfc2217;
    const QByteArray wire = telnetLine ? telnet::escape(frame) : frame;
    if (m_socket.write(wire) != wire.size())
        return failure(m_socket.errorString());
    const QDeadlineTimer deadline = waits::within(WriteTimeoutMs);
    for (;;) {
        readServer(); // a server sending while it is slow to take is no reason to hold more
        if (m_socket.bytesToWrite() == 0)
            break;
        if (m_socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired()) {
            // How much of the frame left: its bytes whose wire form did.
            const qint64 left = wire.size() - m_socket.bytesToWrite();
            qint64 onWire = 0;
            for (const char c : frame) {
                onWire += telnetLine && uchar(c) == telnet::IAC ? 2 : 1;
                if (onWire > left)
                    break;
                ++result.sent;
            }
            return failure(m_socket.state() == QAbstractSocket::ConnectedState
                               ? QStringLiteral("write timed out")
                               : socketProblem());
        }
        m_socket.waitForBytesWritten(waits::remainingMs(deadline));
    }
    result.sent = frame.size();
    m_unconfirmed = true;
    if (telnetLine) {
        m_pendingLineUs +=
            qint64(frame.size()) * bitsPerCharacter(m_wanted) * 1000000 / m_wanted.baudRate;
    } else {
        m_settledAtMs = m_clock.elapsed() + SocketSettleMs;
    }
    m_busy = false;
    return result;
}

Checked<void> NetworkLine::confirmWritten()
{
    readServer();
    if (m_address.kind == NetworkAddress::Kind::Rfc2217 && !m_unconfirmed)
        return {}; // what the server took stays taken
    if (!m_refusal.isEmpty())
        return Refusal{m_refusal};
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return Refusal{socketProblem()};
    if (m_address.kind == NetworkAddress::Kind::Socket)
        return {}; // nothing to ask: neither a hang-up nor a reset so far
    // SET-BAUDRATE 0 asks the rate the line runs at.
    sendCommand(telnet::SetBaudRate, QByteArray(4, 0));
    m_socket.flush();
    ++m_questions;
    // No device holds more than SettleLimitMs of frames waiting for its line.
    const qint64 aheadMs = std::min<qint64>(std::max<qint64>(m_settledAtMs - m_clock.elapsed(), 0) +
                                                (m_pendingLineUs + 999) / 1000,
                                            SettleLimitMs);
    const QDeadlineTimer deadline = waits::within(ConfirmTimeoutMs + aheadMs);
    waitUntil([this] { return m_questions == 0 || !m_refusal.isEmpty(); }, deadline);
    if (!m_refusal.isEmpty())
        return Refusal{m_refusal};
    if (m_questions != 0)
        return Refusal{m_socket.state() != QAbstractSocket::ConnectedState
                           ? socketProblem()
                           : QStringLiteral("the server did not confirm the frames in %1 ms")
                                 .arg(ConfirmTimeoutMs + aheadMs)};
    // The frames are at the device now and need their time on its line.
    m_settledAtMs = std::max(m_settledAtMs, m_clock.elapsed()) + (m_pendingLineUs + 999) / 1000;
    m_pendingLineUs = 0;
    m_unconfirmed = false;
    return {};
}

Checked<void> NetworkLine::confirm()
{
    if (!m_open)
        return Refusal{named(QStringLiteral("the port is not open"))};
    m_busy = true;
    const Checked<void> confirmed = confirmWritten();
    if (!confirmed)
        dropConnection();
    m_busy = false;
    if (!confirmed)
        return Refusal{named(confirmed.message())};
    return {};
}

Checked<void> NetworkLine::settle()
{
    // ser2net drops what its device has not yet sent when the client
    // leaves: the close waits until the last frame has had its time.
    const bool telnetLine = m_address.kind == NetworkAddress::Kind::Rfc2217;
    const qint64 leftMs =
        m_settledAtMs + (telnetLine && m_settledAtMs > 0 ? LineSettleMs : 0) - m_clock.elapsed();
    if (leftMs <= 0)
        return {};
    waitUntil([this] { return !m_refusal.isEmpty(); },
              waits::within(std::min<qint64>(leftMs, SettleLimitMs)));
    if (!m_refusal.isEmpty())
        return Refusal{m_refusal};
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return Refusal{socketProblem()};
    return {};
}

void NetworkLine::release()
{
#ifdef Q_OS_UNIX
    // Saying no more is coming and waiting for the server to hang up lets
    // it release the device first, so that an open right after this (a new
    // baud rate) does not find the port still in use.
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.flush();
        if (::shutdown(int(m_socket.socketDescriptor()), SHUT_WR) == 0)
            waitUntil([] { return false; }, waits::within(CloseTimeoutMs));
    }
#endif
    m_socket.abort();
}

Checked<void> NetworkLine::close()
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState) {
        m_open = false;
        return {};
    }
    m_busy = true;
    Checked<void> delivered;
    if (m_open) {
        delivered = confirmWritten();
        if (delivered)
            delivered = settle();
    }
    m_open = false;
    release();
    m_busy = false;
    if (!delivered)
        return Refusal{named(delivered.message())};
    return {};
}
