#include "programwaits.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

// Receivers and posters read the waits from their own threads while a test may set them from the
// GUI thread. Never freed: the log handler may still ask while the process's statics are destroyed.
struct Shared
{
    QMutex mutex;
    ProgramWaits waits;
};

Shared &shared()
{
    static Shared *const instance = new Shared;
    return *instance;
}

} // namespace

ProgramWaits ProgramWaits::current()
{
    Shared &state = shared();
    QMutexLocker locker(&state.mutex);
    return state.waits;
}

void ProgramWaits::setForTesting(const ProgramWaits &waits)
{
    Shared &state = shared();
    QMutexLocker locker(&state.mutex);
    state.waits = waits;
}

void ProgramWaits::resetForTesting()
{
    setForTesting(ProgramWaits());
}
