#pragma once

#include <QByteArray>

#include <optional>

// Reading frames back off the line, for tools that play the module. Only
// facts about the frames live here; what a module makes of them does not.
namespace protocol {

// UID byte and command code come before every command's payload.
inline constexpr int CommandHeaderLength = 2;
// 0x1E, 0x1E, baud code, new UID.
inline constexpr int ConfigFrameLength = 4;

// A configuration frame opens with two marker bytes. No command frame can:
// 0x1E is no command code, so the second byte tells the two kinds apart even
// for a module whose UID is 0x1E.
bool opensConfigFrame(const QByteArray& bytes);

struct ConfigRequest
{
    quint8 baudCode = 0;
    quint8 newUid = 0;
};

// The request carried by exactly one configuration frame; none for anything
// else.
std::optional<ConfigRequest> parseConfigFrame(const QByteArray& frame);

} // namespace protocol
