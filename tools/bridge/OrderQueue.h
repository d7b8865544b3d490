#pragma once

#include "tools/bridge/Orders.h"

#include <QHash>
#include <QMutex>

#include <list>
#include <optional>

namespace bridge {

// The orders waiting for one line. A display shows the latest state, so for
// each module and command only the newest value waits: a newer order takes
// the place of a waiting one at the back, and the line never sees a value
// that was already out of date. Orders without a key (toggles, raw and
// config frames) are never dropped, so there is a ceiling on how many wait.
// Safe to use from the broker's thread and the line's thread at once.
class OrderQueue
{
public:
    explicit OrderQueue(int unkeyedLimit = 1000) : m_unkeyedLimit(unkeyedLimit) {}

    enum class Added
    {
        First,      // the queue was empty: the line needs waking
        Queued,     // behind others
        Superseded, // took the place of an older order with the same key
        Full        // refused: too many orders that cannot be dropped wait
    };
    Added add(Order order);
    std::optional<Order> take();
    // An order the line failed to take goes back to the front, unless a
    // newer one with its key already waits.
    void putBack(Order order);

    int size() const;
    // How many orders a newer one has made pointless since the start.
    quint64 superseded() const;

private:
    mutable QMutex m_mutex;
    std::list<Order> m_orders;
    QHash<QString, std::list<Order>::iterator> m_byKey;
    int m_unkeyed = 0;
    const int m_unkeyedLimit;
    quint64 m_superseded = 0;
};

} // namespace bridge
