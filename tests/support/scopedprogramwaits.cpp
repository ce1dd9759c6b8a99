#include "scopedprogramwaits.h"

ScopedProgramWaits::ScopedProgramWaits(const ProgramWaits &waits)
    : m_before(ProgramWaits::current())
{
    ProgramWaits::setForTesting(waits);
}

ScopedProgramWaits::~ScopedProgramWaits()
{
    ProgramWaits::setForTesting(m_before);
}
