#pragma once

#include "common/Checked.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What a message on the bus asks of a line: the topic names the line, the
// module and the command, the payload holds a plain value. Each accepted
// message becomes exactly one frame, built by quendra-send's command table,
// so the bridge never learns a byte layout of its own.
namespace bridge {

// Longest payload read at all; every value a command takes is far shorter,
// so a longer one is refused before it is parsed or quoted.
inline constexpr int MaxPayload = 256;

// Commands that reach past one module only when the operator allows them.
struct Permissions
{
    bool raw = false;    // a hex frame sent as given
    bool config = false; // every module on the line takes a new rate and UID
};

// One frame for the line, and what the line then holds.
struct Order
{
    // Which waiting order a newer one makes pointless ("5/text"); empty for
    // an order that must never be dropped (a toggle, a raw or config frame).
    QString key;
    QByteArray frame;
    // The retained state topic under PREFIX/LINE ("5/text") and the value it
    // holds once the frame has left; empty when the command has no state.
    QString stateTopic;
    QByteArray state;
};

// The topic's levels after "PREFIX/LINE/", the payload as received.
Checked<Order> orderFor(const QStringList& levels, const QByteArray& payload,
                        const Permissions& allowed);

// "PREFIX/LINE/rest...": the line's name and the levels after it; none for
// a topic outside the prefix or with an empty level.
struct TopicParts
{
    QString line;
    QStringList levels;
};
std::optional<TopicParts> splitTopic(const QString& prefix, const QString& topic);

// A name that is one whole topic level: not empty, no '/', no wildcard, no
// control character.
bool isTopicLevel(const QString& name);

} // namespace bridge
