// The thread's last error, the tick count, Sleep and the process heap.
#include "apicall.h"
#include "processheap.h"
#include "timesource.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

thread_local DWORD t_lastError = 0;

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
