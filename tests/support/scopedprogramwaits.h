#ifndef SCOPEDPROGRAMWAITS_H
#define SCOPEDPROGRAMWAITS_H

#include "programwaits.h"

// The program's waits as a test wants them, for as long as this object lives; then those in force
// before it are back, so that a shortened wait never reaches the next test function. Made inside a
// test function it also ends with a failed check, which returns from the function.
//
//     ProgramWaits waits = ProgramWaits::current();
//     waits.jobReceiveTimeoutMs = 300;
//     const ScopedProgramWaits shortReceive(waits);
class ScopedProgramWaits
{
public:
    explicit ScopedProgramWaits(const ProgramWaits &waits);
    ~ScopedProgramWaits();
    ScopedProgramWaits(const ScopedProgramWaits &) = delete;
    ScopedProgramWaits &operator=(const ScopedProgramWaits &) = delete;

private:
    const ProgramWaits m_before;
};

#endif // SCOPEDPROGRAMWAITS_H
