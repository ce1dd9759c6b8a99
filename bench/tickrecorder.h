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
    // How much of a tick's lateness, due and fired at the given readings, is not the thread's fault.
    using Excuse = std::function<qint64(qint64 dueNs, qint64 firedNs)>;
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
};

#endif // TICKRECORDER_H
