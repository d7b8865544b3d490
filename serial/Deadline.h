#pragma once

#include <QDeadlineTimer>

#include <algorithm>
#include <climits>

// Every wait on a line is built from these two, so that a limit worked out
// as "limit - elapsed" can never turn into "for ever": QDeadlineTimer(-1)
// and a Qt waitFor*(-1) both mean no limit at all.
namespace waits {

// A deadline ms from now; none at or below zero has already passed.
inline QDeadlineTimer within(qint64 ms)
{
    return QDeadlineTimer(std::max<qint64>(ms, 0));
}

// What is left of a deadline, for a waitFor* call or poll(): 0 once it has
// passed, and 0 too for a deadline without end, which no wait here may have.
inline int remainingMs(const QDeadlineTimer& deadline)
{
    return int(std::clamp<qint64>(deadline.remainingTime(), 0, INT_MAX));
}

} // namespace waits
