// The thread's last error and priority, the tick count, Sleep and the process heap.
#include "apicall.h"
#include "processheap.h"
#include "timesource.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

thread_local DWORD t_lastError = 0;

// What GetCurrentThread gives on Windows: a pseudo-handle that means "the calling thread".
HANDLE const kCurrentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

// Windows schedules by strict priority: a ready thread above normal runs before every thread at
// normal, at once, however long it has worked. Linux shares the processors by weight among its
// ordinary threads, and a thread that has just worked (or was charged for the time a virtual
// machine's host took the processor away) waits until the others had their share. So the levels
// above normal are round-robin real-time priorities, which run before any ordinary thread as the
// Windows levels do; those below share by weight, a step of five in niceness a third of the weight.
struct PriorityLevel
{
    int priority;
    // A real-time priority (SCHED_RR) when above 0, else an ordinary thread at `niceness`.
    int realTime;
    int niceness;
};
constexpr PriorityLevel kLevels[] = {
    { THREAD_PRIORITY_IDLE, 0, 19 },
    { THREAD_PRIORITY_LOWEST, 0, 10 },
    { THREAD_PRIORITY_BELOW_NORMAL, 0, 5 },
    { THREAD_PRIORITY_NORMAL, 0, 0 },
    { THREAD_PRIORITY_ABOVE_NORMAL, 1, 0 },
    { THREAD_PRIORITY_HIGHEST, 2, 0 },
    { THREAD_PRIORITY_TIME_CRITICAL, 3, 0 },
};

// One scale for both kinds, higher running first: real-time priorities above every niceness.
int schedulingRank(int realTime, int niceness)
{
    return realTime > 0 ? 20 + realTime : -niceness;
}

pid_t currentThreadId()
{
    return pid_t(::syscall(SYS_gettid));
}

} // namespace

namespace winsim {

void reportStoreError(const char *call, const char *what)
{
    std::fprintf(stderr, "winsim: %s: %s\n", call, what);
}

} // namespace winsim

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return t_lastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
}

DWORD WINAPI GetTickCount(void)
{
    // Wraps after 49.7 days, as on Windows.
    return DWORD(uint64_t(winsim::monotonicMilliseconds()));
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    timespec left { time_t(dwMilliseconds / 1000), long(dwMilliseconds % 1000) * 1000000L };
    while (nanosleep(&left, &left) != 0 && errno == EINTR) { }
}

HANDLE WINAPI GetCurrentThread(void)
{
    return kCurrentThread;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority)
{
    if (hThread != kCurrentThread)
        return winsim::fail(ERROR_INVALID_HANDLE);
    const PriorityLevel *level = std::find_if(std::begin(kLevels), std::end(kLevels),
        [nPriority](const PriorityLevel &candidate) { return candidate.priority == nPriority; });
    if (level == std::end(kLevels))
        return winsim::fail(ERROR_INVALID_PARAMETER);
    // A thread Windows starts runs at normal priority whatever its creator's. Linux threads inherit
    // their creator's policy and niceness unless told to start again from normal.
    sched_param param {};
    param.sched_priority = level->realTime;
    const int policy = (level->realTime > 0 ? SCHED_RR : SCHED_OTHER) | SCHED_RESET_ON_FORK;
    if (::sched_setscheduler(0, policy, &param) != 0)
        return winsim::fail(errno == EPERM ? ERROR_PRIVILEGE_NOT_HELD : ERROR_INVALID_PARAMETER);
    if (::setpriority(PRIO_PROCESS, id_t(currentThreadId()), level->niceness) != 0)
        return winsim::fail(
            errno == EPERM || errno == EACCES ? ERROR_PRIVILEGE_NOT_HELD : ERROR_INVALID_PARAMETER);
    return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread)
{
    if (hThread != kCurrentThread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    errno = 0;
    const int niceness = ::getpriority(PRIO_PROCESS, id_t(currentThreadId()));
    const int policy = ::sched_getscheduler(0);
    sched_param param {};
    if ((niceness == -1 && errno != 0) || policy == -1 || ::sched_getparam(0, &param) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    // A policy or niceness set from outside lies between the levels: it reads as the nearest one.
    const int rank = schedulingRank(param.sched_priority, niceness);
    const auto distance = [rank](const PriorityLevel &level) {
        return std::abs(schedulingRank(level.realTime, level.niceness) - rank);
    };
    return std::min_element(std::begin(kLevels), std::end(kLevels),
        [&distance](const PriorityLevel &a, const PriorityLevel &b) { return distance(a) < distance(b); })
        ->priority;
}

HANDLE WINAPI GetProcessHeap(void)
{
    return winsim::ProcessHeap::handle();
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes)
{
    // HeapAlloc reports failure by its null result only; it leaves the last error alone.
    uint32_t injected = 0;
    if (winsim::CallGate::instance().enter("HeapAlloc", &injected))
        return nullptr;
    if (hHeap != winsim::ProcessHeap::handle())
        return nullptr;
    return winsim::ProcessHeap::instance().allocate(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem)
{
    uint32_t injected = 0;
    if (winsim::CallGate::instance().enter("HeapFree", &injected))
        return winsim::fail(injected);
    if (hHeap != winsim::ProcessHeap::handle())
        return winsim::fail(ERROR_INVALID_HANDLE);
    if (!lpMem)
        return TRUE;
    if (!winsim::ProcessHeap::instance().release(lpMem))
        return winsim::fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}

} // extern "C"
