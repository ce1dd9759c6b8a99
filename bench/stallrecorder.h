#ifndef STALLRECORDER_H
#define STALLRECORDER_H

#include <QtGlobal>

#include <atomic>
#include <thread>
#include <vector>

// How much the machine itself stalls: a thread of its own, at real-time priority where the system
// grants it, that only sleeps a millisecond at a time and notes how late each wake-up came. Nothing
// of the program can hold it, so its lateness is the machine's (a virtual machine's host taking the
// cores away, say), and a window's tick late by no more than that was not late by the program's fault.
class StallRecorder
{
public:
    StallRecorder() = default;
    ~StallRecorder();
    StallRecorder(const StallRecorder &) = delete;
    StallRecorder &operator=(const StallRecorder &) = delete;

    void start();
    // Joins the thread; the figures below are read after it.
    void stop();
    // Whether the thread got real-time priority; without it the system's own queue can delay it too.
    bool isRealTime() const { return m_realTime; }
    int wakeCount() const { return int(m_due.size()); }

    // What the thread notes, at the given monotonic readings (a test gives its own).
    void noteWake(qint64 dueNs, qint64 firedNs);
    // The latest wake-up among those whose wait overlapped [fromNs, toNs].
    qint64 longestWithin(qint64 fromNs, qint64 toNs) const;
    // The latest wake-up among those that came due in [fromNs, toNs].
    qint64 worstBetween(qint64 fromNs, qint64 toNs) const;

private:
    void run();

    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    bool m_realTime = false;
    std::vector<qint64> m_due;
    std::vector<qint64> m_fired;
};

#endif // STALLRECORDER_H
