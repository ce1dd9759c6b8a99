// The frame of every exported call: the call gate (counting and injected failures) and the
// conversion of internal failures into the Windows way of reporting them.
#pragma once

#include "callgate.h"
#include "store.h"
#include "win32.h"

#include <new>

namespace winsim {

// Reported when the shared state file cannot be used, as a call to an unreachable spooler fails.
constexpr DWORD kStateUnavailable = 1726; // RPC_S_CALL_FAILED

void reportStoreError(const char *call, const char *what);

inline BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// For calls that return BOOL and report through the thread's last error.
template<typename Body> BOOL boolCall(const char *call, Body &&body)
{
    uint32_t injected = 0;
    if (CallGate::instance().enter(call, &injected))
        return fail(injected);
    try {
        return body();
    } catch (const StoreError &e) {
        reportStoreError(call, e.what());
        return fail(kStateUnavailable);
    } catch (const std::bad_alloc &) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

// For calls that return their status (the printer data and registry calls).
template<typename Body> DWORD statusCall(const char *call, Body &&body)
{
    uint32_t injected = 0;
    if (CallGate::instance().enter(call, &injected))
        return injected;
    try {
        return body();
    } catch (const StoreError &e) {
        reportStoreError(call, e.what());
        return kStateUnavailable;
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

// For calls that return a handle, or null with the thread's last error.
template<typename Handle, typename Body> Handle handleCall(const char *call, Body &&body)
{
    uint32_t injected = 0;
    if (CallGate::instance().enter(call, &injected)) {
        SetLastError(injected);
        return nullptr;
    }
    try {
        return body();
    } catch (const StoreError &e) {
        reportStoreError(call, e.what());
        SetLastError(kStateUnavailable);
        return nullptr;
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

} // namespace winsim
