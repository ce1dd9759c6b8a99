#include "stallrecorder.h"

#include "procstats.h"

#include <algorithm>

#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace {
constexpr qint64 kIntervalNs = 1000 * 1000;
// An hour of wake-ups per core without a reallocation while measuring.
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
    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    m_wakes.assign(size_t(cores), {});
    m_realTime = true;
    for (int core = 0; core < cores; ++core) {
        m_wakes[size_t(core)].reserve(kReserved);
        m_threads.emplace_back([this, core] { run(core); });
        cpu_set_t only;
        CPU_ZERO(&only);
        CPU_SET(core, &only);
        pthread_setaffinity_np(m_threads.back().native_handle(), sizeof only, &only);
        sched_param param {};
        // Above every real-time priority a raised thread of the program may hold.
        param.sched_priority = sched_get_priority_max(SCHED_FIFO);
        if (pthread_setschedparam(m_threads.back().native_handle(), SCHED_FIFO, &param) != 0)
            m_realTime = false;
    }
}

void StallRecorder::stop()
{
    m_stop = true;
    for (std::thread &thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
    m_threads.clear();
}

int StallRecorder::wakeCount() const
{
    size_t count = 0;
    for (const std::vector<Wake> &wakes : m_wakes)
        count += wakes.size();
    return int(count);
}

void StallRecorder::run(int core)
{
    qint64 due = monotonicNs();
    while (!m_stop.load(std::memory_order_relaxed)) {
        due += kIntervalNs;
        const timespec at { time_t(due / 1000000000), long(due % 1000000000) };
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        const qint64 fired = monotonicNs();
        if (m_wakes[size_t(core)].size() < kReserved)
            noteWake(core, due, fired);
        // After a stall the next wake-up is one interval on, not a burst of the missed ones.
        due = std::max(due, fired - kIntervalNs);
    }
}

void StallRecorder::noteWake(int core, qint64 dueNs, qint64 firedNs)
{
    if (core < 0)
        return;
    if (size_t(core) >= m_wakes.size())
        m_wakes.resize(size_t(core) + 1);
    m_wakes[size_t(core)].push_back(Wake { dueNs, firedNs });
}

qint64 StallRecorder::latestWake(int core, qint64 fromNs, qint64 toNs, bool overlapping) const
{
    qint64 latest = 0;
    for (size_t each = 0; each < m_wakes.size(); ++each) {
        if (core >= 0 && size_t(core) != each)
            continue;
        for (const Wake &wake : m_wakes[each]) {
            const bool within = overlapping ? wake.firedNs >= fromNs && wake.dueNs <= toNs
                                            : wake.dueNs >= fromNs && wake.dueNs <= toNs;
            if (within)
                latest = std::max(latest, wake.firedNs - wake.dueNs);
        }
    }
    return latest;
}

qint64 StallRecorder::longestWithin(int core, qint64 fromNs, qint64 toNs) const
{
    return latestWake(core, fromNs, toNs, true);
}

qint64 StallRecorder::excuse(const TickRecorder::Wait &wait) const
{
    const qint64 onItsCores = std::max(longestWithin(wait.coreBefore, wait.dueNs, wait.firedNs),
        longestWithin(wait.coreAfter, wait.dueNs, wait.firedNs));
    return std::max(onItsCores, std::min(wait.queuedNs, longestWithin(-1, wait.dueNs, wait.firedNs)));
}

qint64 StallRecorder::worstBetween(qint64 fromNs, qint64 toNs) const
{
    return latestWake(-1, fromNs, toNs, false);
}
