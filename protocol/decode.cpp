#include "decode.h"

#include "protocol.h"

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

} // namespace protocol
