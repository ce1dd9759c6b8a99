#include "tickrecorder.h"

#include "procstats.h"

#include <algorithm>

TickRecorder::TickRecorder(int intervalMs, QObject *parent)
    : QObject(parent)
    , m_intervalNs(qint64(intervalMs) * 1000000)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { noteTick(monotonicNs(), threadSchedule()); });
    // An hour of ticks without a reallocation inside the measured stretch.
    m_due.reserve(3600 * 1000 / std::max(1, intervalMs));
    m_fired.reserve(m_due.capacity());
    m_schedules.reserve(m_due.capacity());
}

void TickRecorder::start()
{
    startAt(monotonicNs());
    m_timer.start();
}

void TickRecorder::startAt(qint64 startNs)
{
    m_due.clear();
    m_fired.clear();
    m_schedules.clear();
    m_dueNs = startNs + m_intervalNs;
}

void TickRecorder::stop()
{
    m_timer.stop();
}

void TickRecorder::noteTick(qint64 now, ThreadSchedule schedule)
{
    m_due.push_back(m_dueNs);
    m_fired.push_back(now);
    m_schedules.push_back(schedule);
    // As the event loop schedules a precise timer: the next tick is due one interval after this
    // one was due, unless that has passed already, then one interval from now.
    m_dueNs += m_intervalNs;
    if (m_dueNs < now)
        m_dueNs = now + m_intervalNs;
}

TickRecorder::Lateness TickRecorder::latenessBetween(
    qint64 fromNs, qint64 toNs, qint64 slowNs, const Excuse &excused) const
{
    std::vector<qint64> late;
    Lateness lateness;
    qint64 worst = -1;
    for (size_t i = 0; i < m_due.size(); ++i) {
        if (m_fired[i] < fromNs || m_due[i] > toNs)
            continue;
        const qint64 excuse = excused ? excused(m_due[i], m_fired[i]) : 0;
        late.push_back(std::max<qint64>(0, m_fired[i] - m_due[i] - excuse));
        if (late.back() > worst) {
            worst = late.back();
            lateness.worstDueNs = m_due[i];
            lateness.worstFiredNs = m_fired[i];
            const ThreadSchedule before = i > 0 ? m_schedules[i - 1] : m_schedules[i];
            lateness.worstRanNs = m_schedules[i].ranNs - before.ranNs;
            lateness.worstQueuedNs = m_schedules[i].queuedNs - before.queuedNs;
        }
    }
    lateness.ticks = int(late.size());
    lateness.slowTicks
        = int(std::count_if(late.begin(), late.end(), [slowNs](qint64 ns) { return ns > slowNs; }));
    if (late.empty())
        return lateness;
    std::sort(late.begin(), late.end());
    lateness.worstNs = late.back();
    // The smallest lateness that at least 99 % of the ticks kept to.
    const size_t rank = (late.size() * 99 + 99) / 100;
    lateness.p99Ns = late[std::min(late.size(), std::max<size_t>(rank, 1)) - 1];
    return lateness;
}
