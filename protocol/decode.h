#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Reading frames back off the line, for tools that play the module. Only
// facts about the frames live here; what a module makes of them does not.
namespace protocol {

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

// One frame as a module reads it off the line.
struct ReceivedFrame
{
    enum class Kind
    {
        Command,
        Configuration,
        Malformed
    };

    Kind kind = Kind::Malformed;
    QByteArray bytes; // exactly the bytes that made up this frame

    // Command frames.
    quint8 uid = 0;
    quint8 code = 0;
    QByteArray payload;

    // Configuration frames.
    quint8 baudCode = 0;
    quint8 newUid = 0;

    // Malformed frames: what is wrong, in a few words.
    QString problem;
};

// Splits one burst (the bytes between two idle gaps on the line) into
// frames. A frame with a fixed length ends where its length says, so bursts
// that hold several frames come apart; a brightness frame takes the rest of
// its burst. Whatever cannot be read ends the burst as one malformed frame,
// since no length can be trusted after it.
QList<ReceivedFrame> decodeBurst(const QByteArray& burst);

} // namespace protocol
