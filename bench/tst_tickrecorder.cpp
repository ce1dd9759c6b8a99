// The responsiveness figure rests on how late each tick of the window's timer fired; these cases
// pin that arithmetic down with tick times given by hand.

#include "stallrecorder.h"
#include "tickrecorder.h"

#include <QtTest>

namespace {
constexpr qint64 kMs = 1000 * 1000;
constexpr qint64 kFrame = 16 * kMs;

// Both cores' bare threads woke on time every millisecond up to `untilMs`.
void noteQuietCores(StallRecorder &stalls, int untilMs)
{
    for (int i = 1; i <= untilMs; ++i) {
        stalls.noteWake(0, i * kMs, i * kMs);
        stalls.noteWake(1, i * kMs, i * kMs);
    }
}
} // namespace

class TstTickRecorder : public QObject
{
    Q_OBJECT

private slots:
    void onTimeTicksAreNotLate();
    void aHeldThreadShowsInTheWorstNotInThe99thPercentile();
    void aTickLateWithinItsIntervalDoesNotHideTheNext();
    void onlyTicksInsideTheStretchCount();
    void manyLateTicksReachThe99thPercentile();
    void onlyTheTimeTheMachineStalledIsExcused();
    void aStallRecorderOnTheRealClockSeesItsOwnWakeUps();
};

void TstTickRecorder::onTimeTicksAreNotLate()
{
    TickRecorder recorder(1);
    recorder.startAt(0);
    for (int i = 1; i <= 100; ++i)
        recorder.noteTick(i * kMs);
    const TickRecorder::Lateness lateness = recorder.latenessBetween(0, 100 * kMs, kFrame);
    QCOMPARE(lateness.ticks, 100);
    QCOMPARE(lateness.worstNs, 0);
    QCOMPARE(lateness.p99Ns, 0);
    QCOMPARE(lateness.slowTicks, 0);
}

void TstTickRecorder::aHeldThreadShowsInTheWorstNotInThe99thPercentile()
{
    TickRecorder recorder(1);
    recorder.startAt(0);
    for (int i = 1; i <= 10; ++i)
        recorder.noteTick(i * kMs);
    // Due at 11 ms, the thread was busy until 60 ms; the next is due a whole interval after that,
    // so the ticks that follow on time are not counted late as well.
    recorder.noteTick(60 * kMs);
    for (int i = 61; i <= 160; ++i)
        recorder.noteTick(i * kMs);
    const TickRecorder::Lateness lateness = recorder.latenessBetween(0, 200 * kMs, kFrame);
    QCOMPARE(lateness.ticks, 111);
    QCOMPARE(lateness.worstNs, 49 * kMs);
    QCOMPARE(lateness.p99Ns, 0);
    QCOMPARE(lateness.slowTicks, 1);
    QCOMPARE(lateness.worstDueNs, 11 * kMs);
    QCOMPARE(lateness.worstFiredNs, 60 * kMs);
}

void TstTickRecorder::aTickLateWithinItsIntervalDoesNotHideTheNext()
{
    TickRecorder recorder(10);
    recorder.startAt(0);
    // Due at 10 ms, fired at 18; the next stays due at 20, so firing at 29 is 9 ms late (a gap
    // between firings would call it 1 ms late).
    recorder.noteTick(18 * kMs);
    recorder.noteTick(29 * kMs);
    const TickRecorder::Lateness lateness = recorder.latenessBetween(0, 100 * kMs, 5 * kMs);
    QCOMPARE(lateness.ticks, 2);
    QCOMPARE(lateness.worstNs, 9 * kMs);
    QCOMPARE(lateness.slowTicks, 2);
}

void TstTickRecorder::onlyTicksInsideTheStretchCount()
{
    TickRecorder recorder(1);
    recorder.startAt(0);
    recorder.noteTick(30 * kMs); // due at 1 ms, before the stretch: left out
    recorder.noteTick(31 * kMs);
    recorder.noteTick(50 * kMs); // due at 32 ms, fired inside: 18 ms late
    recorder.noteTick(51 * kMs);
    recorder.noteTick(90 * kMs); // due at 52 ms, after the stretch: left out
    const TickRecorder::Lateness lateness = recorder.latenessBetween(31 * kMs, 51 * kMs, kFrame);
    QCOMPARE(lateness.ticks, 3);
    QCOMPARE(lateness.worstNs, 18 * kMs);
    QCOMPARE(lateness.slowTicks, 1);

    QCOMPARE(recorder.latenessBetween(100 * kMs, 200 * kMs, kFrame).ticks, 0);
}

void TstTickRecorder::manyLateTicksReachThe99thPercentile()
{
    TickRecorder recorder(1);
    recorder.startAt(0);
    // 95 ticks on time, then 5 each 3 ms late: more than 1 % of them, so the percentile sees it.
    qint64 at = 0;
    for (int i = 0; i < 95; ++i)
        recorder.noteTick(at += kMs);
    for (int i = 0; i < 5; ++i)
        recorder.noteTick(at += 4 * kMs);
    const TickRecorder::Lateness lateness = recorder.latenessBetween(0, at, kFrame);
    QCOMPARE(lateness.ticks, 100);
    QCOMPARE(lateness.p99Ns, 3 * kMs);
    QCOMPARE(lateness.worstNs, 3 * kMs);
    QCOMPARE(lateness.slowTicks, 0);
}

void TstTickRecorder::onlyTheTimeTheMachineStalledIsExcused()
{
    StallRecorder stalls;
    noteQuietCores(stalls, 300);
    // The host took core 0 for 40 ms from 20 ms on: its thread's wake-up due at 21 ms came at 61 ms.
    stalls.noteWake(0, 21 * kMs, 61 * kMs);
    // Core 1 for 30 ms from 130 ms on.
    stalls.noteWake(1, 131 * kMs, 161 * kMs);
    // Core 0 for 5 ms from 186 ms on.
    stalls.noteWake(0, 186 * kMs, 191 * kMs);
    // Both, overlapping: core 0 from 211 to 241 ms, core 1 from 221 to 251 ms.
    stalls.noteWake(0, 211 * kMs, 241 * kMs);
    stalls.noteWake(1, 221 * kMs, 251 * kMs);
    TickRecorder recorder(1);
    recorder.startAt(0);
    for (int i = 1; i <= 20; ++i)
        recorder.noteTick(i * kMs);
    // Due at 21 ms, fired at 70 ms: 40 of its 49 ms were core 0's stall.
    recorder.noteTick(70 * kMs);
    for (int i = 71; i <= 100; ++i)
        recorder.noteTick(i * kMs);
    // Held by the program alone at 101 ms, with the machine running: 25 ms late, none excused.
    recorder.noteTick(126 * kMs);
    // Due at 127 ms, fired at 150 ms: core 1 stalled from 131 ms on, whichever core the thread was on.
    recorder.noteTick(150 * kMs);
    for (int i = 151; i <= 179; ++i)
        recorder.noteTick(i * kMs);
    // Due at 180 ms, fired at 200 ms: only the 5 ms stall inside the wait is excused, 15 ms stay.
    recorder.noteTick(200 * kMs);
    // Due at 201 ms, fired at 255 ms: the two stalls cover 211 to 251 ms, counted once.
    recorder.noteTick(255 * kMs);
    const TickRecorder::Excuse machine
        = [&stalls](qint64 dueNs, qint64 firedNs) { return stalls.stalledWithin(dueNs, firedNs); };

    const TickRecorder::Lateness raw = recorder.latenessBetween(0, 300 * kMs, kFrame);
    QCOMPARE(raw.worstNs, 54 * kMs);
    QCOMPARE(raw.slowTicks, 5);
    const TickRecorder::Lateness own = recorder.latenessBetween(0, 300 * kMs, kFrame, machine);
    QCOMPARE(own.worstNs, 25 * kMs);
    QCOMPARE(own.worstDueNs, 101 * kMs);
    QCOMPARE(own.slowTicks, 1);
    QCOMPARE(stalls.stalledWithin(21 * kMs, 70 * kMs), 40 * kMs);
    QCOMPARE(stalls.stalledWithin(127 * kMs, 150 * kMs), 19 * kMs);
    QCOMPARE(stalls.stalledWithin(180 * kMs, 200 * kMs), 5 * kMs);
    QCOMPARE(stalls.stalledWithin(201 * kMs, 255 * kMs), 40 * kMs);
    QCOMPARE(stalls.stalledWithin(101 * kMs, 126 * kMs), 0);
    QCOMPARE(stalls.worstBetween(0, 300 * kMs), 40 * kMs);
    QCOMPARE(stalls.worstBetween(100 * kMs, 200 * kMs), 30 * kMs);
}

void TstTickRecorder::aStallRecorderOnTheRealClockSeesItsOwnWakeUps()
{
    StallRecorder stalls;
    const qint64 from = monotonicNs();
    stalls.start();
    QTest::qWait(50);
    stalls.stop();
    const qint64 to = monotonicNs();
    // It woke up again and again, and each wake-up it noted lies within the time it ran.
    QVERIFY(stalls.wakeCount() > 1);
    QVERIFY(stalls.worstBetween(from, to) < to - from);
    QCOMPARE(stalls.stalledWithin(to + 1, to + 1000 * kMs), 0);
}

QTEST_GUILESS_MAIN(TstTickRecorder)
#include "tst_tickrecorder.moc"
