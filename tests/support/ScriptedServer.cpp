#include "tests/support/ScriptedServer.h"

#include "serial/TelnetReader.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QtEndian>

#include <cerrno>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray bytesOf(std::initializer_list<unsigned char> list)
{
    QByteArray bytes;
    for (const unsigned char b : list)
        bytes.append(char(b));
    return bytes;
}

// The words of a script, and the number after one that takes a value.
struct Script
{
    QStringList words;
    bool has(const char* word) const { return words.contains(QLatin1String(word)); }
    std::optional<int> value(const char* word) const
    {
        const qsizetype i = words.indexOf(QLatin1String(word));
        if (i < 0 || i + 1 >= words.size())
            return std::nullopt;
        return words[i + 1].toInt();
    }
};

} // namespace

ScriptedServer::ScriptedServer(QString script) : m_script(std::move(script))
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), length) != 0 ||
        ::listen(m_listen, 4) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return;
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listen);
}

QByteArray ScriptedServer::received()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

void ScriptedServer::serve()
{
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client >= 0) {
            ++m_clients;
            serveClient(client);
            ::close(client);
        }
    }
}

void ScriptedServer::serveClient(int client)
{
    using namespace telnet;
    const Script script{m_script.split(' ', Qt::SkipEmptyParts)};
    const bool plain = script.has("plain");
    const int lateMs = script.value("late").value_or(0);
    const int slowOpenMs = script.value("slow-open").value_or(0);
    const bool flood = script.has("flood");
    QElapsedTimer clock;
    clock.start();

    struct Due
    {
        qint64 atMs;
        QByteArray bytes;
    };
    std::deque<Due> queue; // in the order said; each leaves no sooner than its time
    QByteArray out;        // due and not yet taken by the network
    const auto say = [&](const QByteArray& bytes, int afterMs = 0) {
        queue.push_back({clock.elapsed() + afterMs, bytes});
    };

    if (script.has("farewell")) {
        // Markup and control bytes, said once and left: a short write is the
        // client's loss, as from a real server.
        static const char text[] = "<h1><font color=red>PORT OK</font></h1><img src='/tmp/x.png'>"
                                   "\x1b[31m\a\x00 gr\xc3\xbc\xc3\x9f \xff\r\n";
        [[maybe_unused]] const ssize_t said = ::write(client, text, sizeof text - 1);
        return;
    }
    if (plain && script.has("hang-up"))
        return;
    if (plain && script.has("reset")) {
        // A reset leaves no TIME_WAIT behind on this side, which would keep
        // the port from the next server's listen.
        const linger abort = {1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        return;
    }

    TelnetReader reader;
    bool agreed = false;
    bool reading = true;
    bool sawFrame = false;
    bool answeredOnce = false;
    quint32 rate = 0;
    const QByteArray flooding(16384, 'x');

    while (!m_stop) {
        while (!queue.empty() && queue.front().atMs <= clock.elapsed()) {
            out += queue.front().bytes;
            queue.pop_front();
        }
        pollfd p{client, short((reading ? POLLIN : 0) | (out.isEmpty() && !flood ? 0 : POLLOUT)),
                 0};
        if (::poll(&p, 1, 2) < 0 || (p.revents & (POLLERR | POLLNVAL)))
            return;
        if (p.revents & POLLOUT) {
            const QByteArray& next = out.isEmpty() ? flooding : out;
            const ssize_t n = ::send(client, next.constData(), size_t(next.size()), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN)
                return;
            if (n > 0 && !out.isEmpty())
                out.remove(0, n);
        }
        if (!(p.revents & (POLLIN | POLLHUP)) || !reading)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN))
            return;
        if (n < 0)
            continue;
        if (plain) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_received.append(buffer, n);
            continue;
        }
        std::vector<TelnetReader::Event> events;
        reader.feed(buffer, n, events);
        for (const TelnetReader::Event& e : events) {
            if (e.kind == TelnetReader::Event::Data) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_received += e.bytes;
                if (!sawFrame && script.has("dont-binary"))
                    say(bytesOf({IAC, DONT, OptionBinary}));
                sawFrame = true;
            } else if (e.kind == TelnetReader::Event::Negotiation && e.code == WILL) {
                const bool refused = (e.option == OptionBinary && script.has("refuse-binary")) ||
                                     (e.option == OptionComPort && script.has("refuse-com-port"));
                say(bytesOf({IAC, refused ? DONT : DO, e.option}));
            } else if (e.kind == TelnetReader::Event::Negotiation && e.code == DO) {
                say(bytesOf({IAC, WILL, e.option}));
            } else if (e.kind == TelnetReader::Event::Subnegotiation && !e.bytes.isEmpty()) {
                const auto command = uchar(e.bytes[0]);
                QByteArray value = e.bytes.mid(1);
                if (!answeredOnce && script.has("sb-iac-se"))
                    say(bytesOf({IAC, SB, IAC, SE}));
                answeredOnce = true;
                if (command == SetBaudRate && value.size() == 4) {
                    if (const auto asked = script.value("rate"))
                        qToBigEndian(quint32(*asked), value.data());
                    const auto got = qFromBigEndian<quint32>(value.constData());
                    if (got == 0) { // the question that confirms frames
                        if (script.has("stale"))
                            continue;
                        qToBigEndian(rate, value.data());
                    } else {
                        rate = got;
                    }
                }
                if (command == SetControl && script.value("flow"))
                    value = QByteArray(1, char(*script.value("flow")));
                const QByteArray answer =
                    bytesOf({IAC, SB, OptionComPort, uchar(command + ServerOffset)}) +
                    escape(value) + bytesOf({IAC, SE});
                say(answer, agreed ? lateMs : slowOpenMs);
                if (command == SetBaudRate && !agreed && script.has("stale"))
                    say(answer);
                if (command == SetControl && !agreed) {
                    agreed = true;
                    if (script.has("hang-up")) {
                        for (const Due& d : queue)
                            out += d.bytes;
                        (void)::send(client, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
                        return;
                    }
                    reading = !script.has("stop-reading");
                }
            }
        }
    }
}
