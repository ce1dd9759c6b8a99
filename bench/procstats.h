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

#endif // PROCSTATS_H
