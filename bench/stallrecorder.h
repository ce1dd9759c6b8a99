#ifndef STALLRECORDER_H
#define STALLRECORDER_H

#include <QtGlobal>

#include <atomic>
#include <thread>
#include <vector>

// How much the machine itself stalls: on every core a thread of its own, held to that core, at
// real-time priority where the system grants it, that only sleeps a millisecond at a time and notes
// how late each wake-up came. Nothing of the program can hold these threads, so their lateness is
// the machine's (a virtual machine's host taking a core away, say), and a window's tick late by no
// more than its core's stall was not late by the program's fault.
class StallRecorder
{
public:
    StallRecorder() = default;
    ~StallRecorder();
    StallRecorder(const StallRecorder &) = delete;
    StallRecorder &operator=(const StallRecorder &) = delete;

    void start();
    // Joins the threads; the figures below are read after it.
    void stop();
    // Whether every thread got real-time priority; without it the system's own queue delays them too.
    bool isRealTime() const { return m_realTime; }
    int wakeCount() const;

    // What the core's thread notes, at the given monotonic readings (a test gives its own).
    void noteWake(int core, qint64 dueNs, qint64 firedNs);
    // How much of [fromNs, toNs] some core was stalled: the time within it that lies inside any
    // core's late wake-up (from when it was due to when it came), overlapping stalls counted once.
    // Any core's: a thread may be queued on a stalled core, its timer may wait there, or a thread
    // there may hold a lock it needs; so a thread late for its own reasons on one core while the
    // other stalls is excused too, for the overlap only.
    qint64 stalledWithin(qint64 fromNs, qint64 toNs) const;
    // The latest wake-up on any core among those that came due in [fromNs, toNs].
    qint64 worstBetween(qint64 fromNs, qint64 toNs) const;

private:
    struct Wake
    {
        qint64 dueNs;
        qint64 firedNs;
    };
    void run(int core);
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop { false };
    bool m_realTime = false;
    // One list per core, each written by its core's thread only.
    std::vector<std::vector<Wake>> m_wakes;
};

#endif // STALLRECORDER_H
