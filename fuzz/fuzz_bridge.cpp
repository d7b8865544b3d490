// A topic, a newline and a payload from the broker become at most one frame,
// and never one for a module other than the one the topic names.
#include "fuzz/check.h"
#include "tools/bridge/Orders.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QString topic = QString::fromUtf8(newline < 0 ? input : input.left(newline));
    const QByteArray payload = newline < 0 ? QByteArray() : input.mid(newline + 1);

    const std::optional<bridge::TopicParts> parts =
        bridge::splitTopic(QStringLiteral("quendra"), topic);
    if (!parts)
        return 0;
    // What was split is the topic again, level for level, with no wildcard.
    check(QStringLiteral("quendra/") + parts->line + QLatin1Char('/') + parts->levels.join('/') ==
          topic);
    check(bridge::isTopicLevel(parts->line));

    const bridge::Permissions all{true, true};
    const Checked<bridge::Order> order = bridge::orderFor(parts->levels, payload, all);
    if (!order) {
        // A refusal is one short line, whatever was sent.
        check(order.message().size() < qsizetype(4) * bridge::MaxPayload);
        return 0;
    }
    check(!payload.isEmpty() && payload.size() <= bridge::MaxPayload);
    check(!order->frame.isEmpty());
    if (parts->levels.size() == 3) {
        // A module's command goes to exactly the module the topic names.
        bool ok = false;
        const int uid = parts->levels.front().toInt(&ok);
        check(ok && uid >= 0 && uid <= 255 && quint8(order->frame.at(0)) == uid);
        check(order->stateTopic == parts->levels[0] + QLatin1Char('/') + parts->levels[1]);
        // Ordering the same value again gives the same frame.
        const Checked<bridge::Order> again = bridge::orderFor(parts->levels, order->state, all);
        check(again && again->frame == order->frame);
    }
    return 0;
}
