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

qint64 StallRecorder::stalledWithin(qint64 fromNs, qint64 toNs) const
{
    std::vector<std::pair<qint64, qint64>> spans;
    for (const std::vector<Wake> &wakes : m_wakes) {
        for (const Wake &wake : wakes) {
            if (wake.firedNs > fromNs && wake.dueNs < toNs && wake.firedNs > wake.dueNs)
                spans.emplace_back(std::max(wake.dueNs, fromNs), std::min(wake.firedNs, toNs));
        }
    }
    std::sort(spans.begin(), spans.end());
    qint64 stalled = 0;
    qint64 coveredTo = fromNs;
    for (const auto &[from, to] : spans) {
        if (to > coveredTo) {
            stalled += to - std::max(from, coveredTo);
            coveredTo = to;
        }
    }
    return stalled;
}

qint64 StallRecorder::worstBetween(qint64 fromNs, qint64 toNs) const
{
    qint64 worst = 0;
    for (const std::vector<Wake> &wakes : m_wakes) {
        for (const Wake &wake : wakes) {
            if (wake.dueNs >= fromNs && wake.dueNs <= toNs)
                worst = std::max(worst, wake.firedNs - wake.dueNs);
        }
    }
    return worst;
}
