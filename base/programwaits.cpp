#include "programwaits.h"

#include <mutex>

namespace {

// Receivers and posters read the waits from their own threads while a test may set them from the
// GUI thread. Never freed: the log handler may still ask while the process's statics are destroyed.
// A standard mutex, not Qt's: a race checker sees its hand-over, which happens inside Qt's library
// for Qt's.
struct Shared
{
    std::mutex mutex;
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
    const std::lock_guard<std::mutex> locker(state.mutex);
    return state.waits;
}

void ProgramWaits::setForTesting(const ProgramWaits &waits)
{
    Shared &state = shared();
    const std::lock_guard<std::mutex> locker(state.mutex);
    state.waits = waits;
}

void ProgramWaits::resetForTesting()
{
    setForTesting(ProgramWaits());
}
