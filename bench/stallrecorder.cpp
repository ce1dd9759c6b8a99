#include "stallrecorder.h"

#include "procstats.h"

#include <algorithm>

#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace {
constexpr qint64 kIntervalNs = 1000 * 1000;
// An hour of wake-ups without a reallocation while measuring.
constexpr size_t kReserved = 3600 * 1000;
} // namespace

StallRecorder::~StallRecorder()
{
    stop();
}

void StallRecorder::start()
{
    stop();
    m_stop = false;
    m_due.clear();
    m_fired.clear();
    m_due.reserve(kReserved);
    m_fired.reserve(kReserved);
    m_thread = std::thread([this] { run(); });
    sched_param param {};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    m_realTime = pthread_setschedparam(m_thread.native_handle(), SCHED_FIFO, &param) == 0;
}

void StallRecorder::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void StallRecorder::run()
{
    qint64 due = monotonicNs();
    while (!m_stop.load(std::memory_order_relaxed)) {
        due += kIntervalNs;
        const timespec at { time_t(due / 1000000000), long(due % 1000000000) };
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        const qint64 fired = monotonicNs();
        if (m_due.size() < kReserved)
            noteWake(due, fired);
        // After a stall the next wake-up is one interval on, not a burst of the missed ones.
        due = std::max(due, fired - kIntervalNs);
    }
}

void StallRecorder::noteWake(qint64 dueNs, qint64 firedNs)
{
    m_due.push_back(dueNs);
    m_fired.push_back(firedNs);
}

qint64 StallRecorder::longestWithin(qint64 fromNs, qint64 toNs) const
{
    qint64 longest = 0;
    for (size_t i = 0; i < m_due.size(); ++i) {
        if (m_fired[i] >= fromNs && m_due[i] <= toNs)
            longest = std::max(longest, m_fired[i] - m_due[i]);
    }
    return longest;
}

qint64 StallRecorder::worstBetween(qint64 fromNs, qint64 toNs) const
{
    qint64 worst = 0;
    for (size_t i = 0; i < m_due.size(); ++i) {
        if (m_due[i] >= fromNs && m_due[i] <= toNs)
            worst = std::max(worst, m_fired[i] - m_due[i]);
    }
    return worst;
}
