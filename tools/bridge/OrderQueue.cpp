#include "tools/bridge/OrderQueue.h"

namespace bridge {

OrderQueue::Added OrderQueue::add(Order order)
{
    const QMutexLocker lock(&m_mutex);
    if (order.key.isEmpty()) {
        if (m_unkeyed >= m_unkeyedLimit)
            return Added::Full;
        ++m_unkeyed;
        m_orders.push_back(std::move(order));
        return m_orders.size() == 1 ? Added::First : Added::Queued;
    }
    const auto waiting = m_byKey.find(order.key);
    const bool replaced = waiting != m_byKey.end();
    if (replaced) {
        // To the back: orders between different modules and commands keep
        // the order in which their latest values came.
        m_orders.erase(*waiting);
        ++m_superseded;
    }
    const QString key = order.key;
    m_orders.push_back(std::move(order));
    m_byKey.insert(key, std::prev(m_orders.end()));
    if (replaced)
        return Added::Superseded;
    return m_orders.size() == 1 ? Added::First : Added::Queued;
}

std::optional<Order> OrderQueue::take()
{
    const QMutexLocker lock(&m_mutex);
    if (m_orders.empty())
        return std::nullopt;
    Order order = std::move(m_orders.front());
    m_orders.pop_front();
    if (order.key.isEmpty())
        --m_unkeyed;
    else
        m_byKey.remove(order.key);
    return order;
}

void OrderQueue::putBack(Order order)
{
    const QMutexLocker lock(&m_mutex);
    if (order.key.isEmpty()) {
        ++m_unkeyed;
        m_orders.push_front(std::move(order));
        return;
    }
    if (m_byKey.contains(order.key))
        return;
    const QString key = order.key;
    m_orders.push_front(std::move(order));
    m_byKey.insert(key, m_orders.begin());
}

int OrderQueue::size() const
{
    const QMutexLocker lock(&m_mutex);
    return int(m_orders.size());
}

quint64 OrderQueue::superseded() const
{
    const QMutexLocker lock(&m_mutex);
    return m_superseded;
}

} // namespace bridge
