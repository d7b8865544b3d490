#include "serial/NetworkLine.h"

#include <QDeadlineTimer>
#include <QHostAddress>

#include <algorithm>
#include <array>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

constexpr char Rfc2217Scheme[] = "rfc2217";
constexpr char SocketScheme[] = "socket";

// COM-PORT-OPTION's values for parity and stop size, beside the port's.
constexpr std::array<std::pair<QSerialPort::Parity, unsigned char>, 5> ParityCodes{{
    {QSerialPort::NoParity, 1},
    {QSerialPort::OddParity, 2},
    {QSerialPort::EvenParity, 3},
    {QSerialPort::MarkParity, 4},
    {QSerialPort::SpaceParity, 5},
}};
constexpr std::array<std::pair<QSerialPort::StopBits, unsigned char>, 3> StopCodes{{
    {QSerialPort::OneStop, 1},
    {QSerialPort::TwoStop, 2},
    {QSerialPort::OneAndHalfStop, 3},
}};

QString rateText(qint32 rate)
{
    return QStringLiteral("rate %1").arg(rate);
}

QString dataBitsText(QSerialPort::DataBits bits)
{
    return QStringLiteral("data bits %1").arg(int(bits));
}

QString parityText(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::NoParity:
        return QStringLiteral("parity none");
    case QSerialPort::OddParity:
        return QStringLiteral("parity odd");
    case QSerialPort::EvenParity:
        return QStringLiteral("parity even");
    case QSerialPort::MarkParity:
        return QStringLiteral("parity mark");
    case QSerialPort::SpaceParity:
        return QStringLiteral("parity space");
    }
    return QStringLiteral("parity %1").arg(int(parity));
}

QString stopBitsText(QSerialPort::StopBits stop)
{
    return stop == QSerialPort::OneAndHalfStop ? QStringLiteral("stop bits 1.5")
                                               : QStringLiteral("stop bits %1").arg(int(stop));
}

// The parsed address, or why there is none.
std::optional<NetworkAddress> parseAddress(const QString& name, QString* problem)
{
    const qsizetype mark = name.indexOf(QLatin1String("://"));
    if (mark < 0) {
        *problem = QStringLiteral("%1: not a network address").arg(name);
        return std::nullopt;
    }
    const QString scheme = name.left(mark).toLower();
    NetworkAddress address;
    if (scheme == QLatin1String(Rfc2217Scheme)) {
        address.kind = NetworkAddress::Kind::Rfc2217;
    } else if (scheme == QLatin1String(SocketScheme)) {
        address.kind = NetworkAddress::Kind::Socket;
    } else {
        *problem = QStringLiteral("%1: unknown kind of port \"%2\"; use rfc2217:// or socket://")
                       .arg(name, name.left(mark));
        return std::nullopt;
    }

    const QString rest = name.mid(mark + 3);
    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0 || rest.mid(close + 1, 1) != QLatin1String(":")) {
            *problem = QStringLiteral("%1: write the address as %2://HOST:PORT").arg(name, scheme);
            return std::nullopt;
        }
        host = rest.mid(1, close - 1);
        port = rest.mid(close + 2);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol) {
            *problem = QStringLiteral("%1: \"%2\" is not an IPv6 address").arg(name, host);
            return std::nullopt;
        }
    } else {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            *problem = QStringLiteral("%1: no port number; write %2://HOST:PORT").arg(name, scheme);
            return std::nullopt;
        }
        host = rest.left(colon);
        port = rest.mid(colon + 1);
        for (const QChar c : host) {
            if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
                  c == QLatin1Char('_'))) {
                *problem =
                    QStringLiteral("%1: \"%2\" is not a host name or address").arg(name, host);
                return std::nullopt;
            }
        }
    }
    if (host.isEmpty()) {
        *problem = QStringLiteral("%1: no host; write %2://HOST:PORT").arg(name, scheme);
        return std::nullopt;
    }
    bool digits = !port.isEmpty() && port.size() <= 5;
    for (const QChar c : port)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int number = digits ? port.toInt() : 0;
    if (number < 1 || number > 65535) {
        *problem = QStringLiteral("%1: port number \"%2\" is not 1 to 65535").arg(name, port);
        return std::nullopt;
    }
    address.host = host;
    address.port = quint16(number);
    problem->clear();
    return address;
}

} // namespace

QString NetworkAddress::display() const
{
    const QString h = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(h).arg(port);
}

bool isNetworkPortName(const QString& name)
{
    return name.contains(QLatin1String("://"));
}

std::optional<NetworkAddress> parseNetworkPortName(const QString& name)
{
    QString problem;
    return parseAddress(name, &problem);
}

QString networkPortNameProblem(const QString& name)
{
    QString problem;
    parseAddress(name, &problem);
    return problem;
}

NetworkLine::NetworkLine(NetworkAddress address, QObject* parent)
    : Line(parent), m_address(std::move(address))
{
    // Read and dropped as it arrives, so that nothing the server reports
    // piles up while the line is idle.
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        if (!m_busy)
            readServer();
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
    return LineSettings{*m_rate, *m_parity, *m_dataBits, *m_stopBits};
}

QString NetworkLine::socketProblem() const
{
    if (m_socket.error() == QAbstractSocket::RemoteHostClosedError ||
        m_socket.state() != QAbstractSocket::ConnectedState) {
        QString text = QStringLiteral("the server closed the connection");
        const QString said = QString::fromLatin1(m_serverText).simplified();
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
    const QString reason = QStringLiteral("%1: %2").arg(m_address.display(), socketProblem());
    dropConnection();
    emit failed(reason);
}

bool NetworkLine::open(const LineSettings& settings, QString* error)
{
    close();
    const auto failure = [&](const QString& reason) {
        dropConnection();
        m_busy = false;
        if (error)
            *error = QStringLiteral("%1: %2").arg(m_address.display(), reason);
        return false;
    };
    m_busy = true;
    if (settings.baudRate <= 0)
        return failure(QStringLiteral("%1 is no baud rate").arg(settings.baudRate));

    const QDeadlineTimer deadline(OpenTimeoutMs);
    const QString noAnswer = QStringLiteral("no answer in %1 s").arg(OpenTimeoutMs / 1000);
    m_socket.connectToHost(m_address.host, m_address.port);
    if (!m_socket.waitForConnected(int(deadline.remainingTime()))) {
        const bool timedOut = m_socket.error() == QAbstractSocket::SocketTimeoutError ||
                              m_socket.error() == QAbstractSocket::UnknownSocketError;
        return failure(timedOut ? noAnswer : m_socket.errorString());
    }
    m_lastSent.start();
    m_lastFrameSize = 0;
    // Frames are a few bytes each and should leave at once.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);

    if (m_address.kind == NetworkAddress::Kind::Rfc2217) {
        QString reason;
        if (!negotiate(settings, deadline, &reason))
            return failure(reason);
    }
    m_open = true;
    m_busy = false;
    return true;
}

bool NetworkLine::negotiate(const LineSettings& settings, const QDeadlineTimer& deadline,
                            QString* reason)
{
    using namespace telnet;
    m_reader.reset();
    m_wanted = settings;
    m_settingsSent = m_comPortAgreed = m_binaryAgreed = m_heardServer = false;
    m_refusal.clear();
    m_serverText.clear();
    m_refusedDo.reset();
    m_refusedWill.reset();
    m_rate.reset();
    m_dataBits.reset();
    m_parity.reset();
    m_stopBits.reset();

    // Binary both ways, so that CR, NUL and every other byte pass as they
    // are; serial-port control from this side.
    send(WILL, OptionBinary);
    send(DO, OptionBinary);
    send(WILL, OptionComPort);
    m_socket.flush();

    const auto done = [this] {
        return m_comPortAgreed && m_binaryAgreed && m_rate && m_dataBits && m_parity && m_stopBits;
    };
    while (m_refusal.isEmpty() && !done()) {
        if (m_socket.state() != QAbstractSocket::ConnectedState) {
            *reason = socketProblem();
            return false;
        }
        if (deadline.hasExpired()) {
            *reason = negotiationStalled();
            return false;
        }
        if (m_socket.bytesAvailable() > 0 ||
            m_socket.waitForReadyRead(int(deadline.remainingTime())))
            readServer();
    }
    if (!m_refusal.isEmpty()) {
        *reason = m_refusal;
        return false;
    }
    m_serverText.clear(); // what it said while opening explains no later failure
    return true;
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
    QString which;
    if (!m_rate)
        which = rateText(m_wanted.baudRate);
    else if (!m_dataBits)
        which = dataBitsText(m_wanted.dataBits);
    else if (!m_parity)
        which = parityText(m_wanted.parity);
    else
        which = stopBitsText(m_wanted.stopBits);
    return QStringLiteral("the server did not take %1; %2").arg(which, wait);
}

void NetworkLine::send(unsigned char code, unsigned char option)
{
    const char bytes[] = {char(telnet::IAC), char(code), char(option)};
    m_socket.write(bytes, sizeof bytes);
}

void NetworkLine::sendCommand(unsigned char code, const QByteArray& value)
{
    using namespace telnet;
    QByteArray sub;
    sub.append(char(IAC)).append(char(SB)).append(char(OptionComPort)).append(char(code));
    sub.append(escape(value));
    sub.append(char(IAC)).append(char(SE));
    m_socket.write(sub);
}

void NetworkLine::sendSettings()
{
    using namespace telnet;
    const auto rate = quint32(m_wanted.baudRate);
    const char rateBytes[] = {char(rate >> 24), char(rate >> 16), char(rate >> 8), char(rate)};
    sendCommand(SetBaudRate, QByteArray(rateBytes, sizeof rateBytes));
    sendCommand(SetDataSize, QByteArray(1, char(m_wanted.dataBits)));
    for (const auto& [parity, code] : ParityCodes) {
        if (parity == m_wanted.parity)
            sendCommand(SetParity, QByteArray(1, char(code)));
    }
    for (const auto& [stop, code] : StopCodes) {
        if (stop == m_wanted.stopBits)
            sendCommand(SetStopSize, QByteArray(1, char(code)));
    }
    m_socket.flush();
    m_settingsSent = true;
}

void NetworkLine::readServer()
{
    std::vector<TelnetReader::Event> events;
    char buffer[4096];
    for (;;) {
        const qint64 n = m_socket.read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_heardServer = true;
        if (m_address.kind == NetworkAddress::Kind::Socket)
            continue; // nothing in it for the line
        events.clear();
        m_reader.feed(buffer, n, events);
        for (const TelnetReader::Event& e : events)
            handle(e);
    }
    m_socket.flush();
}

void NetworkLine::handle(const TelnetReader::Event& event)
{
    using namespace telnet;
    const bool negotiating = !m_open;
    switch (event.kind) {
    case TelnetReader::Event::Data:
        // Kept only while opening, for the reason a server gives as text
        // before it hangs up ("Port already in use").
        if (negotiating && m_serverText.size() < 200)
            m_serverText.append(event.bytes.left(200 - m_serverText.size()));
        return;
    case TelnetReader::Event::Command:
        return;
    case TelnetReader::Event::Subnegotiation:
        if (event.option == OptionComPort && negotiating && m_settingsSent && !event.truncated)
            handleAnswer(event.bytes);
        if (event.option == OptionComPort && !event.bytes.isEmpty() &&
            uchar(event.bytes[0]) == ServerOffset + SetBaudRate)
            m_rateAnswered = true;
        return;
    case TelnetReader::Event::Negotiation:
        break;
    }

    const unsigned char option = event.option;
    const bool wanted = option == OptionBinary || option == OptionComPort;
    switch (event.code) {
    case DO:
        if (option == OptionComPort) {
            m_comPortAgreed = true;
            if (negotiating && !m_settingsSent)
                sendSettings();
        } else if (option == OptionBinary) {
            m_binaryAgreed = true;
        } else if (!m_refusedDo[option]) {
            // Answered once only, so that no exchange can loop.
            m_refusedDo[option] = true;
            send(WONT, option);
        }
        break;
    case DONT:
        if (wanted && negotiating) {
            m_refusal = option == OptionBinary
                            ? QStringLiteral("the server refused binary mode")
                            : QStringLiteral("the server refused serial-port control (RFC 2217)");
        }
        break;
    case WILL:
        // The server's binary sending is welcome; nothing else from it is used.
        if (option != OptionBinary && !m_refusedWill[option]) {
            m_refusedWill[option] = true;
            send(DONT, option);
        }
        break;
    default: // WONT: nothing to answer; its binary sending does not matter
        break;
    }
}

void NetworkLine::handleAnswer(const QByteArray& answer)
{
    using namespace telnet;
    if (answer.isEmpty())
        return;
    const auto code = static_cast<unsigned char>(answer[0]);
    const QByteArray value = answer.mid(1);
    const auto refuse = [this](const QString& asked, const QString& got) {
        if (m_refusal.isEmpty())
            m_refusal = QStringLiteral("the server refused %1 (it answered %2)").arg(asked, got);
    };
    const auto byteValue = [&value]() { return value.size() == 1 ? int(uchar(value[0])) : -1; };

    if (code == ServerOffset + SetBaudRate && !m_rate && value.size() == 4) {
        const quint32 got = quint32(uchar(value[0])) << 24 | quint32(uchar(value[1])) << 16 |
                            quint32(uchar(value[2])) << 8 | quint32(uchar(value[3]));
        if (got != quint32(m_wanted.baudRate))
            return refuse(rateText(m_wanted.baudRate), QString::number(got));
        m_rate = m_wanted.baudRate;
    } else if (code == ServerOffset + SetDataSize && !m_dataBits) {
        if (byteValue() != int(m_wanted.dataBits))
            return refuse(dataBitsText(m_wanted.dataBits), QString::number(byteValue()));
        m_dataBits = m_wanted.dataBits;
    } else if (code == ServerOffset + SetParity && !m_parity) {
        for (const auto& [parity, c] : ParityCodes) {
            if (parity == m_wanted.parity && byteValue() != c)
                return refuse(parityText(m_wanted.parity), QString::number(byteValue()));
        }
        m_parity = m_wanted.parity;
    } else if (code == ServerOffset + SetStopSize && !m_stopBits) {
        for (const auto& [stop, c] : StopCodes) {
            if (stop == m_wanted.stopBits && byteValue() != c)
                return refuse(stopBitsText(m_wanted.stopBits), QString::number(byteValue()));
        }
        m_stopBits = m_wanted.stopBits;
    }
}

WriteResult NetworkLine::write(const QByteArray& frame)
{
    WriteResult result;
    result.size = frame.size();
    if (!m_open) {
        result.error = QStringLiteral("%1: the port is not open").arg(m_address.display());
        return result;
    }
    m_busy = true;
    const auto failure = [&](const QString& reason) {
        result.error = QStringLiteral("%1: %2").arg(m_address.display(), reason);
        dropConnection();
        m_busy = false;
        return result;
    };

    // What the server sent since the last write, and whether it hung up
    // meanwhile: a write into a connection the server has closed would
    // seem to succeed and be lost.
    for (int i = 0; i < 64 && m_socket.waitForReadyRead(0); ++i)
        readServer();
    readServer();
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return failure(socketProblem());

    const bool telnetLine = m_address.kind == NetworkAddress::Kind::Rfc2217;
    const QByteArray wire = telnetLine ? telnet::escape(frame) : frame;
    if (m_socket.write(wire) != wire.size())
        return failure(m_socket.errorString());
    const QDeadlineTimer deadline(WriteTimeoutMs);
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(int(deadline.remainingTime()))) {
            // How much of the frame left: its bytes whose wire form did.
            const qint64 left = wire.size() - m_socket.bytesToWrite();
            qint64 onWire = 0;
            for (const char c : frame) {
                onWire += telnetLine && uchar(c) == telnet::IAC ? 2 : 1;
                if (onWire > left)
                    break;
                ++result.sent;
            }
            return failure(m_socket.state() == QAbstractSocket::ConnectedState &&
                                   deadline.hasExpired()
                               ? QStringLiteral("write timed out")
                               : socketProblem());
        }
    }
    result.sent = frame.size();
    m_lastSent.start();
    m_lastFrameSize = frame.size();
    readServer();
    m_busy = false;
    return result;
}

void NetworkLine::close()
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState) {
        m_open = false;
        return;
    }
    const bool wasOpen = m_open;
    m_busy = true;
    m_open = false;
    const QDeadlineTimer deadline(CloseTimeoutMs);
    while (m_socket.state() == QAbstractSocket::ConnectedState && m_socket.bytesToWrite() > 0 &&
           m_socket.waitForBytesWritten(int(deadline.remainingTime()))) {
    }
    // ser2net drops what it has not yet written to its device, and what
    // the device has not yet sent, when the client leaves: a frame sent just
    // before a close was lost a few times in a hundred. The server handles
    // what it is sent in order, so once it has answered a question sent
    // after the last frame, that frame has reached the device; the line then
    // needs the frame's time at its rate. socket:// can ask nothing and
    // knows no rate; it waits a fixed while after connecting and after its
    // last frame instead.
    int settleMs = SocketSettleMs;
    if (wasOpen && m_address.kind == NetworkAddress::Kind::Rfc2217) {
        using namespace telnet;
        sendCommand(SetBaudRate, QByteArray(4, 0)); // 0: the rate it runs at
        m_rateAnswered = false;
        while (m_socket.state() == QAbstractSocket::ConnectedState && !m_rateAnswered &&
               (m_socket.bytesAvailable() > 0 ||
                m_socket.waitForReadyRead(int(deadline.remainingTime()))))
            readServer();
        // Eleven bits a byte at most (start, eight data, parity, stop).
        settleMs =
            int(m_lastFrameSize * 11 * 1000 / m_rate.value_or(m_wanted.baudRate)) + LineSettleMs;
    }
    if (wasOpen) {
        const QDeadlineTimer settled(
            std::min<qint64>(settleMs - m_lastSent.elapsed(), deadline.remainingTime()));
        while (m_socket.state() == QAbstractSocket::ConnectedState && !settled.hasExpired() &&
               m_socket.waitForReadyRead(int(settled.remainingTime())))
            m_socket.readAll();
    }
#ifdef Q_OS_UNIX
    // Saying no more is coming and waiting for the server to hang up lets
    // it release the device first, so that an open right after this (a new
    // baud rate) does not find the port still in use.
    if (m_socket.state() == QAbstractSocket::ConnectedState &&
        ::shutdown(int(m_socket.socketDescriptor()), SHUT_WR) == 0) {
        while (m_socket.state() == QAbstractSocket::ConnectedState &&
               m_socket.waitForReadyRead(int(deadline.remainingTime())))
            m_socket.readAll();
    }
#endif
    m_socket.abort();
    m_busy = false;
}
