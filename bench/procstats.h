#ifndef PROCSTATS_H
#define PROCSTATS_H

#include <QtGlobal>

// Clocks and memory figures of the running process, as Linux reports them.

// CLOCK_MONOTONIC in nanoseconds: one clock for every process of the machine, so a child's "done"
// and the parent's "first byte" can be subtracted.
qint64 monotonicNs();
// Peak resident set size of this process so far (VmHWM), in bytes; -1 when unknown.
qint64 peakResidentBytes();
// Resident set size now (VmRSS), in bytes; -1 when unknown.
qint64 residentBytes();

// What the scheduler says of the calling thread so far: how long it ran, and how long it was ready
// but waited for a core.
struct ThreadSchedule
{
    qint64 ranNs = 0;
    qint64 queuedNs = 0;
};
// Zeros when the kernel does not say (/proc/thread-self/schedstat).
ThreadSchedule threadSchedule();

#endif // PROCSTATS_H
