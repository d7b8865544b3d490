// What a terminal server anywhere on the network sends: however it is cut it
// reads the same, holds no more than promised, and reads back when rewritten.
#include "fuzz/check.h"
#include "serial/TelnetReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using Events = std::vector<TelnetReader::Event>;

// Adjacent data events as one, and no mark of cutting: what the bytes mean.
Events normalised(Events events)
{
    Events out;
    for (TelnetReader::Event& e : events) {
        e.truncated = false;
        if (e.kind == TelnetReader::Event::Data && !out.empty() &&
            out.back().kind == TelnetReader::Event::Data)
            out.back().bytes += e.bytes;
        else
            out.push_back(std::move(e));
    }
    return out;
}

QByteArray written(const Events& events)
{
    using namespace telnet;
    QByteArray wire;
    for (const TelnetReader::Event& e : events) {
        switch (e.kind) {
        case TelnetReader::Event::Data:
            wire += escape(e.bytes);
            break;
        case TelnetReader::Event::Negotiation:
            wire.append(char(IAC)).append(char(e.code)).append(char(e.option));
            break;
        case TelnetReader::Event::Subnegotiation:
            wire.append(char(IAC)).append(char(SB)).append(char(e.option));
            wire += escape(e.bytes);
            wire.append(char(IAC)).append(char(SE));
            break;
        case TelnetReader::Event::Command:
            wire.append(char(IAC)).append(char(e.code));
            break;
        }
    }
    return wire;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto* bytes = reinterpret_cast<const char*>(data);

    TelnetReader whole;
    Events all;
    whole.feed(bytes, qsizetype(size), all);

    qsizetype dataBytes = 0;
    for (const TelnetReader::Event& e : all) {
        check(e.kind != TelnetReader::Event::Subnegotiation ||
              e.bytes.size() <= TelnetReader::MaxSubnegotiation);
        check(e.kind != TelnetReader::Event::Negotiation ||
              (e.code >= telnet::WILL && e.code <= telnet::DONT));
        check(e.kind != TelnetReader::Event::Data || !e.bytes.isEmpty());
        if (e.kind == TelnetReader::Event::Data)
            dataBytes += e.bytes.size();
    }
    check(dataBytes <= qsizetype(size));

    // Cut at random places, the same for the same input: piece lengths of
    // 0 to 16 bytes from a generator seeded by the input itself.
    quint32 seed = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        seed = (seed ^ data[i]) * 16777619u;
    TelnetReader cut;
    Events pieces;
    for (size_t i = 0; i < size;) {
        seed = seed * 1664525u + 1013904223u;
        const size_t length = std::min<size_t>((seed >> 24) % 17, size - i);
        cut.feed(bytes + i, qsizetype(length), pieces);
        i += length;
    }
    const Events meaning = normalised(all);
    check(normalised(pieces) == meaning);

    TelnetReader again;
    Events reread;
    again.feed(written(meaning), reread);
    check(normalised(reread) == meaning);
    return 0;
}
