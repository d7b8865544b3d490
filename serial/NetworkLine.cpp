#include "serial/NetworkLine.h"

#include "protocol/printable.h"
#include "serial/Deadline.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif
#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#endif

namespace {

// COM-PORT-OPTION's values for parity and stop size, beside the port's.
constexpr std::array<std::pair<LineSettings::Parity, unsigned char>, 5> ParityCodes{{
    {LineSettings::NoParity, 1},
    {LineSettings::OddParity, 2},
    {LineSettings::EvenParity, 3},
    {LineSettings::MarkParity, 4},
    {LineSettings::SpaceParity, 5},
}};
constexpr std::array<std::pair<LineSettings::StopBits, unsigned char>, 3> StopCodes{{
    {LineSettings::OneStop, 1},
    {LineSettings::TwoStop, 2},
    {LineSettings::OneAndHalfStop, 3},
}};

QString rateText(qint32 rate)
{
    return QStringLiteral("rate %1").arg(rate);
}

QString dataBitsText(LineSettings::DataBits bits)
{
    return QStringLiteral("data bits %1").arg(int(bits));
}

QString parityText(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::NoParity:
        return QStringLiteral("parity none");
    case LineSettings::OddParity:
        return QStringLiteral("parity odd");
    case LineSettings::EvenParity:
        return QStringLiteral("parity even");
    case LineSettings::MarkParity:
        return QStringLiteral("parity mark");
    case LineSettings::SpaceParity:
        return QStringLiteral("parity space");
    }
    return QStringLiteral("parity %1").arg(int(parity));
}

QString stopBitsText(LineSettings::StopBits stop)
{
    return stop == LineSettings::OneAndHalfStop ? QStringLiteral("stop bits 1.5")
                                                : QStringLiteral("stop bits %1").arg(int(stop));
}

} // namespace

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

Checked<void> NetworkLine::negotiate(const LineSettings& settings, const QDeadlineTimer& deadline)
{
    using namespace telnet;
    m_reader.reset();
    m_wanted = settings;
    m_settingsSent = m_comPortAgreed = m_binaryAgreed = m_heardServer = false;
    m_refusedDo.reset();
    m_refusedWill.reset();

    const auto rate = quint32(settings.baudRate);
    const char rateBytes[] = {char(rate >> 24), char(rate >> 16), char(rate >> 8), char(rate)};
    m_settings = {
        {SetBaudRate, QByteArray(rateBytes, sizeof rateBytes), rateText(settings.baudRate)},
        {SetDataSize, QByteArray(1, char(settings.dataBits)), dataBitsText(settings.dataBits)},
        {SetParity, {}, parityText(settings.parity)},
        {SetStopSize, {}, stopBitsText(settings.stopBits)},
        // As the local line runs: the module never holds the line back.
        {SetControl, QByteArray(1, char(NoFlowControl)), QStringLiteral("flow control none")},
    };
    for (const auto& [parity, code] : ParityCodes) {
        if (parity == settings.parity)
            m_settings[2].asked = QByteArray(1, char(code));
    }
    for (const auto& [stop, code] : StopCodes) {
        if (stop == settings.stopBits)
            m_settings[3].asked = QByteArray(1, char(code));
    }

    // Binary both ways, so that CR, NUL and every other byte pass as they
    // are; serial-port control from this side.
    send(WILL, OptionBinary);
    send(DO, OptionBinary);
    send(WILL, OptionComPort);
    m_socket.flush();

    const auto done = [this] {
        return m_comPortAgreed && m_binaryAgreed &&
               std::all_of(m_settings.begin(), m_settings.end(),
                           [](const PortSetting& s) { return s.agreed; });
    };
    waitUntil([&] { return !m_refusal.isEmpty() || done(); }, deadline);
    if (!m_refusal.isEmpty())
        return Refusal{m_refusal};
    if (!done())
        return Refusal{m_socket.state() != QAbstractSocket::ConnectedState ? socketProblem()
                                                                           : negotiationStalled()};
    m_serverText.clear(); // what it said while opening explains no later failure
    return {};
}

QString NetworkLine::negotiationStalled() const
{
    QString wait = QStringLiteral("no answer in %1 s").arg(OpenTimeoutMs / 1000);
    if (!m_heardServer)
        return wait;
    if (!m_comPortAgreed)
        return QStringLiteral("the server does not take serial-port control (RFC 2217); %1")
            .arg(wait);
    if (!m_binaryAgreed)
        return QStringLiteral("the server does not take binary mode; %1").arg(wait);
    // The first setting left unanswered: servers answer in the order asked,
    // and ser2net stays silent on a value it cannot set.
    for (const PortSetting& setting : m_settings) {
        if (!setting.agreed)
            return QStringLiteral("the server did not take %1; %2").arg(setting.name, wait);
    }
    return wait;
}

void NetworkLine::waitUntil(const std::function<bool()>& stop, const QDeadlineTimer& deadline)
{
    for (;;) {
        readServer();
        if (stop() || m_socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
            return;
#ifdef Q_OS_LINUX
        // An answer a server writes in pieces would otherwise wait for the
        // acknowledgement this side delays by 40 ms (its Nagle against our
        // delayed ACK): 4 confirmations in 100 took 45 ms instead of 30 us.
        // The kernel clears the setting after use, so it is set each pass.
        const int on = 1;
        ::setsockopt(int(m_socket.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
        m_socket.waitForReadyRead(waits::remainingMs(deadline));
    }
}

void NetworkLine::send(unsigned char code, unsigned char option)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    const char bytes[] = {char(telnet::IAC), char(code), char(option)};
    m_socket.write(bytes, sizeof bytes);
}

void NetworkLine::sendCommand(unsigned char code, const QByteArray& value)
{
    using namespace telnet;
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray sub;
    sub.append(char(IAC)).append(char(SB)).append(char(OptionComPort)).append(char(code));
    sub.append(escape(value));
    sub.append(char(IAC)).append(char(SE));
    m_socket.write(sub);
}

void NetworkLine::keepServerText(const QByteArray& bytes)
{
    // The last words count: a server says why just before it hangs up.
    constexpr qsizetype Kept = 200;
    m_serverText += bytes.right(Kept);
    if (m_serverText.size() > Kept)
        m_serverText = m_serverText.right(Kept);
}

void NetworkLine::readServer()
{
    // At most what the capped buffer holds, so that one call ends however
    // fast the server sends.
    std::vector<TelnetReader::Event> events;
    char buffer[4096];
    // Closed once the server has gone and nothing is left unread.
    while (m_socket.isOpen()) {
        const qint64 n = m_socket.read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_heardServer = true;
        if (m_address.kind == NetworkAddress::Kind::Socket) {
            keepServerText(QByteArray::fromRawData(buffer, n));
            continue;
        }
        events.clear();
        m_reader.feed(buffer, n, events);
        for (const TelnetReader::Event& e : events)
            handle(e);
    }
}

void NetworkLine::handle(const TelnetReader::Event& event)
{
    using namespace telnet;
    const bool negotiating = !m_open;
    switch (event.kind) {
    case TelnetReader::Event::Data:
        keepServerText(event.bytes);
        return;
    case TelnetReader::Event::Command:
        return;
    case TelnetReader::Event::Subnegotiation:
        if (event.option == OptionComPort && !event.truncated && !event.bytes.isEmpty())
            handleAnswer(event.bytes);
        return;
    case TelnetReader::Event::Negotiation:
        break;
    }

    const unsigned char option = event.option;
    switch (event.code) {
    case DO:
        if (option == OptionComPort) {
            m_comPortAgreed = true;
            if (negotiating && !m_settingsSent) {
                for (const PortSetting& setting : m_settings)
                    sendCommand(setting.command, setting.asked);
                m_settingsSent = true;
                // Out now: a wait for data does not always write as well.
                m_socket.flush();
            }
        } else if (option == OptionBinary) {
            m_binaryAgreed = true;
        } else if (!m_refusedDo[option]) {
            // Answered once only, so that no exchange can loop.
            m_refusedDo[option] = true;
            send(WONT, option);
            m_socket.flush();
        }
        break;
    case DONT:
        // Our binary sending refused, at the open or any time after: a frame
        // byte CR would no longer pass as it is. Whether the server sends
        // binary does not matter; nothing it sends is used.
        if (option == OptionBinary && m_refusal.isEmpty())
            m_refusal = QStringLiteral("the server refused binary mode");
        else if (option == OptionComPort && m_refusal.isEmpty())
            m_refusal = QStringLiteral("the server refused serial-port control (RFC 2217)");
        break;
    case WILL:
        // The server's binary sending is welcome; nothing else from it is used.
        if (option != OptionBinary && !m_refusedWill[option]) {
            m_refusedWill[option] = true;
            send(DONT, option);
            m_socket.flush();
        }
        break;
    default: // WONT: nothing to answer; its binary sending does not matter
        break;
    }
}

void NetworkLine::handleAnswer(const QByteArray& answer)
{
    using namespace telnet;
    const auto code = static_cast<unsigned char>(answer[0]);
    const QByteArray value = answer.mid(1);
    quint64 number = 0;
    for (const char c : value)
        number = number << 8 | uchar(c);

    if (m_open) {
        // Only the answer to a confirming question counts; one nobody asked
        // for (a setting answered twice) must not end a later wait.
        if (code != ServerOffset + SetBaudRate || m_questions == 0)
            return;
        --m_questions;
        if (number != quint64(m_wanted.baudRate) && m_refusal.isEmpty())
            m_refusal = QStringLiteral("the server now runs the line at rate %1").arg(number);
        return;
    }
    if (!m_settingsSent)
        return;
    for (PortSetting& setting : m_settings) {
        if (code != ServerOffset + setting.command || setting.agreed)
            continue;
        if (value != setting.asked) {
            if (m_refusal.isEmpty())
                m_refusal = QStringLiteral("the server refused %1 (it answered %2)")
                                .arg(setting.name)
                                .arg(number);
            return;
        }
        setting.agreed = true;
        return;
    }
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
