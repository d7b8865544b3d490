// The emulator's frame decoder over arbitrary bursts: a frame is the bytes the
// panel's frame functions write for it, no byte is lost or counted twice, and
// each frame has a one-line meaning (tools count the emulator's log lines).
#include "fuzz/check.h"
#include "protocol/decode.h"
#include "protocol/protocol.h"
#include "tools/emulator/LogLine.h"
#include "tools/emulator/ModuleBus.h"
#include "tools/emulator/ModuleState.h"

#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using protocol::decodeBurst;
using protocol::ReceivedFrame;

namespace {

// The frame the panel would write for what the decoder read.
QByteArray reencoded(const ReceivedFrame& frame)
{
    switch (frame.kind) {
    case ReceivedFrame::Kind::Command:
        return protocol::commandFrame(frame.uid, frame.code, frame.payload);
    case ReceivedFrame::Kind::Configuration:
        // Any baud code byte is read back; the panel's own codes must give
        // the panel's own frame.
        if (const std::optional<int> rate = protocol::baudRateForCode(frame.baudCode)) {
            const std::optional<protocol::Baud> baud = protocol::baudForRate(*rate);
            check(baud && protocol::baudCode(*baud) == frame.baudCode);
            return protocol::configFrame(protocol::configPayload(*baud, frame.newUid));
        }
        return protocol::configFrame(QByteArray(1, char(protocol::ConfigMarker)) +
                                     char(frame.baudCode) + char(frame.newUid));
    case ReceivedFrame::Kind::Malformed:
        break;
    }
    return frame.bytes;
}

bool isOneLine(const QString& text)
{
    static const QRegularExpression breaks(QStringLiteral("[\\n\\r\\x{85}\\x{2028}\\x{2029}]"));
    return !text.contains(breaks);
}

void checkBurst(const QByteArray& burst, ModuleState& module, ModuleBus& bus)
{
    const QList<ReceivedFrame> frames = decodeBurst(burst);
    QByteArray joined;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const ReceivedFrame& frame = frames[i];
        const bool last = i + 1 == frames.size();
        // Every frame holds at least one byte; nothing follows what could
        // not be read, since no length can be trusted after it.
        check(!frame.bytes.isEmpty());
        check(frame.kind != ReceivedFrame::Kind::Malformed || last);
        check(reencoded(frame) == frame.bytes);
        if (frame.kind == ReceivedFrame::Kind::Command) {
            const std::optional<int> length = protocol::payloadLength(frame.code);
            check(protocol::commandName(frame.code).has_value());
            // Brightness carries no length of its own and takes the rest.
            check(length ? frame.payload.size() == *length : last);
        }
        joined += frame.bytes;

        const QString meaning = module.apply(frame);
        check(!meaning.isEmpty() && isOneLine(meaning));
        check(isOneLine(logLine(QTime(12, 0), frame.bytes, meaning)));

        // A line of modules gives at least one line per frame, each one line.
        const ModuleBus::Outcome outcome = bus.apply(frame);
        check(!outcome.meanings.isEmpty());
        for (const QString& line : outcome.meanings + outcome.warnings)
            check(!line.isEmpty() && isOneLine(line));
    }
    check(joined == burst);
}

} // namespace

// The first byte says how the rest is cut into bursts, as idle gaps on the
// line would cut it: 0 keeps it whole, n cuts after every n bytes. One module
// takes them all in turn, as the emulator does, and so does a line of three.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const qsizetype piece = data[0] != 0 ? data[0] : std::max<qsizetype>(bytes.size(), 1);
    ModuleState any(std::nullopt);
    ModuleState five(quint8(5));
    ModuleBus anyBus({std::nullopt});
    ModuleBus threeBus({1, 5, 7});
    for (qsizetype pos = 0; pos == 0 || pos < bytes.size(); pos += piece) {
        checkBurst(bytes.mid(pos, piece), any, anyBus);
        checkBurst(bytes.mid(pos, piece), five, threeBus);
    }
    return 0;
}
