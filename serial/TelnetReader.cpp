#include "serial/TelnetReader.h"

#include <cstring>

QByteArray telnet::escape(const QByteArray& bytes)
{
    QByteArray wire;
    wire.reserve(bytes.size() + bytes.count(char(IAC)));
    for (const char c : bytes) {
        wire.append(c);
        if (static_cast<unsigned char>(c) == IAC)
            wire.append(c);
    }
    return wire;
}

void TelnetReader::endSubnegotiation(std::vector<Event>& out)
{
    Event e;
    e.kind = Event::Subnegotiation;
    e.option = m_subOption;
    e.bytes = m_sub;
    e.truncated = m_subTruncated;
    out.push_back(std::move(e));
    m_sub.clear();
    m_subTruncated = false;
}

void TelnetReader::feed(const char* data, qsizetype size, std::vector<Event>& out)
{
    using namespace telnet;
    // Data already in out before this feed belongs to an earlier one.
    const std::size_t firstNew = out.size();
    const auto appendData = [&](const char* from, qsizetype n) {
        if (out.size() == firstNew || out.back().kind != Event::Data)
            out.push_back(Event{});
        out.back().bytes.append(from, n);
    };

    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        const auto b = static_cast<unsigned char>(c);
        switch (m_state) {
        case State::Text: {
            if (b == IAC) {
                m_state = State::Iac;
                break;
            }
            // The run of data up to the next IAC in one piece: a server that
            // sends much is read at the speed of memchr.
            const void* iac = std::memchr(data + i, IAC, size_t(size - i));
            const qsizetype end = iac ? static_cast<const char*>(iac) - data : size;
            appendData(data + i, end - i);
            i = end - 1;
            break;
        }
        case State::Iac:
            m_state = State::Text;
            if (b == IAC) {
                appendData(&c, 1);
            } else if (b >= WILL) {
                m_code = b;
                m_state = State::Option;
            } else if (b == SB) {
                m_state = State::SubOption;
            } else {
                Event e;
                e.kind = Event::Command;
                e.code = b;
                out.push_back(e);
            }
            break;
        case State::Option: {
            Event e;
            e.kind = Event::Negotiation;
            e.code = m_code;
            e.option = b;
            out.push_back(e);
            m_state = State::Text;
            break;
        }
        case State::SubOption:
            // "IAC SB IAC ...": no option, so no subnegotiation; the IAC
            // starts the command it is, and what follows is read as usual.
            if (b == IAC) {
                m_state = State::Iac;
                break;
            }
            m_subOption = b;
            m_state = State::SubData;
            break;
        case State::SubData:
            if (b == IAC) {
                m_state = State::SubIac;
            } else if (m_sub.size() < MaxSubnegotiation) {
                m_sub.append(c);
            } else {
                m_subTruncated = true;
            }
            break;
        case State::SubIac:
            if (b == IAC) {
                m_state = State::SubData;
                if (m_sub.size() < MaxSubnegotiation)
                    m_sub.append(c);
                else
                    m_subTruncated = true;
                break;
            }
            // IAC SE ends it; any other command ends it too, and is read as
            // the command it is.
            endSubnegotiation(out);
            if (b == SE) {
                m_state = State::Text;
            } else {
                m_state = State::Iac;
                --i;
            }
            break;
        }
    }
}
