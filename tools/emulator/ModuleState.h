#pragma once

#include "protocol/decode.h"
#include "protocol/protocol.h"

#include <QString>

#include <array>
#include <optional>

// What a module holds and shows: its own UID and line rate, six positions of
// segment patterns, the decimal points and the brightness. It changes only
// through frames addressed to it (or to every module, as configuration is).
class ModuleState
{
public:
    using ReceivedFrame = protocol::ReceivedFrame;

    // uid none: the module answers to every UID until a configuration frame
    // gives it one.
    explicit ModuleState(std::optional<quint8> uid = 1, int baudRate = 9600);

    // Takes one frame and says, in a few words, what it meant to the module:
    // "UID 5 text '    HI'", "text for UID 7, ignored", "malformed: ...".
    QString apply(const ReceivedFrame& frame);

    // Whether the module acts on a frame: a command for its UID (any, when
    // it has none) or a configuration frame, which every module takes.
    bool takes(const ReceivedFrame& frame) const;
    // Acts on a frame it takes and says what it did, without naming the UID:
    // "text '    HI'", "brightness: dim", "configuration: UID 1 -> 9, ...".
    QString take(const ReceivedFrame& frame);

    std::optional<quint8> uid() const { return m_uid; }
    QString uidText() const;
    int baudRate() const { return m_baudRate; }
    bool isDim() const { return m_dim; }

    // The segments lit at a position (0 is the leftmost), in the module's
    // bit order, decimal point included.
    quint8 shown(int position) const;
    // The decimal points set by the decimal-point command, bit 0 the
    // rightmost position.
    quint8 decimalPoints() const { return m_decimalPoints; }

    // The six characters a number shows: right-justified decimal text, or
    // "OFL" (with a minus in front when negative) when the number needs more
    // than six positions.
    static QString numberText(qint64 value);

private:
    QString applyCommand(const ReceivedFrame& frame);
    QString applyConfiguration(const ReceivedFrame& frame);
    void showText(const QByteArray& characters);

    std::optional<quint8> m_uid;
    int m_baudRate;
    std::array<quint8, protocol::DisplayPositions> m_patterns{};
    quint8 m_decimalPoints = 0;
    bool m_dim = false;
};
