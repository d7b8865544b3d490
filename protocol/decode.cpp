#include "protocol/decode.h"

#include "protocol/hex.h"
#include "protocol/protocol.h"

namespace protocol {

bool opensConfigFrame(const QByteArray& bytes)
{
    return bytes.size() >= 2 && quint8(bytes[0]) == ConfigMarker &&
           quint8(bytes[1]) == ConfigMarker;
}

std::optional<ConfigRequest> parseConfigFrame(const QByteArray& frame)
{
    if (frame.size() != ConfigFrameLength || !opensConfigFrame(frame))
        return std::nullopt;
    return ConfigRequest{quint8(frame[2]), quint8(frame[3])};
}

namespace {

ReceivedFrame malformed(const QByteArray& bytes, const QString& problem)
{
    ReceivedFrame frame;
    frame.kind = ReceivedFrame::Kind::Malformed;
    frame.bytes = QByteArray(bytes.constData(), bytes.size());
    frame.problem = problem;
    return frame;
}

} // namespace

QList<ReceivedFrame> decodeBurst(const QByteArray& burst)
{
    QList<ReceivedFrame> frames;
    qsizetype pos = 0;
    while (pos < burst.size()) {
        // A view of what is left, not a copy: a long run of merged frames
        // stays linear. Whatever is kept in a frame is copied out of it.
        const QByteArray rest =
            QByteArray::fromRawData(burst.constData() + pos, burst.size() - pos);

        if (opensConfigFrame(rest)) {
            const QByteArray bytes(rest.constData(),
                                   qMin(rest.size(), qsizetype(ConfigFrameLength)));
            const std::optional<ConfigRequest> request = parseConfigFrame(bytes);
            if (!request) {
                frames.append(malformed(rest, QStringLiteral("configuration frame of %1 bytes, "
                                                             "needs %2")
                                                  .arg(rest.size())
                                                  .arg(ConfigFrameLength)));
                break;
            }
            ReceivedFrame frame;
            frame.kind = ReceivedFrame::Kind::Configuration;
            frame.bytes = bytes;
            frame.baudCode = request->baudCode;
            frame.newUid = request->newUid;
            frames.append(frame);
            pos += bytes.size();
            continue;
        }

        if (rest.size() < CommandHeaderLength) {
            frames.append(malformed(rest, QStringLiteral("a lone byte, no command code")));
            break;
        }
        const auto code = quint8(rest[1]);
        const std::optional<QString> name = commandName(code);
        if (!name) {
            frames.append(
                malformed(rest, QStringLiteral("unknown command code %1").arg(hexByte(code))));
            break;
        }
        const std::optional<int> length = payloadLength(code);
        const qsizetype size = length ? CommandHeaderLength + *length : rest.size();
        if (rest.size() < size) {
            frames.append(malformed(rest, QStringLiteral("%1 needs %2 payload bytes, got %3")
                                              .arg(*name)
                                              .arg(*length)
                                              .arg(rest.size() - CommandHeaderLength)));
            break;
        }
        ReceivedFrame frame;
        frame.kind = ReceivedFrame::Kind::Command;
        frame.bytes = QByteArray(rest.constData(), size);
        frame.uid = quint8(rest[0]);
        frame.code = code;
        frame.payload = frame.bytes.mid(CommandHeaderLength);
        frames.append(frame);
        pos += size;
    }
    return frames;
}

} // namespace protocol
