#ifndef TICKRECORDER_H
#define TICKRECORDER_H

#include <QObject>
#include <QTimer>

#include "procstats.h"

#include <functional>
#include <vector>

// A precise timer on the thread it lives in, whose every tick is noted: how late it fired tells how
// long that thread's event loop was held by other work. A window whose thread is held for more than
// a frame (16 ms) stutters.
class TickRecorder : public QObject
{
    Q_OBJECT
public:
    explicit TickRecorder(int intervalMs, QObject *parent = nullptr);

    void start();
    void stop();

    // What start() and each tick note, at the given monotonic readings (a test gives its own).
    void startAt(qint64 startNs);
    void noteTick(qint64 firedNs, ThreadSchedule schedule = {});
    // The thread is about to sleep, on `core`, until its next event.
    void noteBlocking(int core);

    struct Lateness
    {
        qint64 worstNs = 0;
        qint64 p99Ns = 0;
        int ticks = 0;
        // Ticks later than the `slowNs` asked about.
        int slowTicks = 0;
        // When the latest tick fell due and when it fired.
        qint64 worstDueNs = 0;
        qint64 worstFiredNs = 0;
        // Between the tick before the latest and the latest: how long the thread ran, and how long
        // it was ready but waited for a core; the rest of the hold it slept or was blocked.
        qint64 worstRanNs = 0;
        qint64 worstQueuedNs = 0;
    };
    // How a tick waited: when it fell due and fired (monotonic readings), the core the thread last
    // went to sleep on before it fired (else where the tick before found it) and the one it fired on,
    // and how long between the two ticks the thread was ready but waited for a core.
    struct Wait
    {
        qint64 dueNs = 0;
        qint64 firedNs = 0;
        int coreBefore = -1;
        int coreAfter = -1;
        qint64 queuedNs = 0;
    };
    // How much of a tick's lateness is not the thread's fault.
    using Excuse = std::function<qint64(const Wait &wait)>;
    // Over the ticks that fired after `fromNs` and fell due before `toNs` (monotonic readings), each
    // less what `excused` says of it.
    Lateness latenessBetween(
        qint64 fromNs, qint64 toNs, qint64 slowNs, const Excuse &excused = nullptr) const;

private:
    QTimer m_timer;
    qint64 m_intervalNs;
    // When each tick fell due and when it fired.
    qint64 m_dueNs = 0;
    std::vector<qint64> m_due;
    std::vector<qint64> m_fired;
    std::vector<ThreadSchedule> m_schedules;
    // For each tick, the core the thread last went to sleep on before it fired; -1 if it did not.
    std::vector<int> m_blockedOn;
    int m_blockedOnCore = -1;
};

#endif // TICKRECORDER_H
