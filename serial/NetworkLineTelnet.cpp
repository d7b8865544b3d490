// What the network line and its server say to each other: the Telnet and
// RFC 2217 negotiation at an rfc2217:// open, reading what the server sends
// (a bounded buffer at a time) and answering its options, the answers that
// agree settings or confirm frames, and the commands this side sends.
#include "serial/NetworkLine.h"

#include "serial/Deadline.h"

#include <algorithm>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

Checked<void> NetworkLine::negotiate(const LineSettings& settings, const QDeadlineTimer& deadline)
{
    using namespace telnet;
    m_reader.reset();
    m_wanted = settings;
    m_settingsSent = m_comPortAgreed = m_binaryAgreed = m_heardServer = false;
    m_refusedDo.reset();
    m_refusedWill.reset();

    m_settings = comPortSettings(settings);

    // Binary both ways, so that CR, NUL and every other byte pass as they
    // are; serial-port control from this side.
    send(WILL, OptionBinary);
    send(DO, OptionBinary);
    send(WILL, OptionComPort);
    m_socket.flush();

    const auto done = [this] {
        return m_comPortAgreed && m_binaryAgreed &&
               std::all_of(m_settings.begin(), m_settings.end(),
                           [](const ComPortSetting& s) { return s.agreed; });
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
    for (const ComPortSetting& setting : m_settings) {
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
                for (const ComPortSetting& setting : m_settings)
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
    for (ComPortSetting& setting : m_settings) {
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
