#include "timedapplication.h"

#include "procstats.h"

#include <QEvent>
#include <QMetaEnum>

#include <ctime>

TimedApplication::TimedApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool TimedApplication::notify(QObject *receiver, QEvent *event)
{
    // Only what the event loop hands out: events sent from inside a handler are part of its time.
    if (m_depth > 0)
        return QApplication::notify(receiver, event);
    const int type = event->type();
    // Read before: the event may delete its receiver. The class name is static data.
    const char *receiverClass = receiver->metaObject()->className();
    const qint64 start = monotonicNs();
    const qint64 cpuStart = threadCpuNs();
    ++m_depth;
    const bool handled = QApplication::notify(receiver, event);
    --m_depth;
    const qint64 duration = monotonicNs() - start;
    if (duration >= kKeptNs) {
        const char *name = QMetaEnum::fromType<QEvent::Type>().valueToKey(type);
        m_held.push_back({ start, duration, threadCpuNs() - cpuStart,
            QByteArray(name ? name : "event") + " to " + receiverClass });
    }
    return handled;
}

namespace {

// Only events that began and ended between the two readings count.
bool heldWithin(const TimedApplication::HeldEvent &held, qint64 fromNs, qint64 toNs)
{
    return held.startNs >= fromNs && held.startNs + held.durationNs <= toNs;
}

} // namespace

TimedApplication::HeldEvent TimedApplication::longestBetween(qint64 fromNs, qint64 toNs) const
{
    HeldEvent longest;
    for (const HeldEvent &held : m_held) {
        if (heldWithin(held, fromNs, toNs) && held.durationNs > longest.durationNs)
            longest = held;
    }
    return longest;
}

int TimedApplication::countOver(qint64 fromNs, qint64 toNs, qint64 overNs) const
{
    int count = 0;
    for (const HeldEvent &held : m_held) {
        if (heldWithin(held, fromNs, toNs) && held.durationNs > overNs)
            ++count;
    }
    return count;
}

qint64 TimedApplication::threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}
