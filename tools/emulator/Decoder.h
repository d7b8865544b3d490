#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One frame as the module reads it off the line.
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
