#include "clock.h"

#include <atomic>
#include <limits>

namespace {
// Milliseconds since the epoch of the fixed time, or this marker while the system clock rules.
constexpr qint64 kSystemClock = std::numeric_limits<qint64>::min();
std::atomic<qint64> g_fixedMSecs { kSystemClock };
} // namespace

QDateTime Clock::currentDateTime()
{
    const qint64 fixed = g_fixedMSecs.load(std::memory_order_relaxed);
    if (fixed == kSystemClock)
        return QDateTime::currentDateTime();
    return QDateTime::fromMSecsSinceEpoch(fixed, Qt::LocalTime);
}

QDate Clock::currentDate()
{
    return currentDateTime().date();
}

void Clock::setFixedForTesting(const QDateTime &localTime)
{
    g_fixedMSecs.store(localTime.toMSecsSinceEpoch(), std::memory_order_relaxed);
}

void Clock::resetForTesting()
{
    g_fixedMSecs.store(kSystemClock, std::memory_order_relaxed);
}
