// Processes: this process's id, and opening another process to learn its image. A process handle
// keeps the image it was opened on, as a Windows handle keeps its process object: the answer does
// not change when the process exits and its id is used again.
#include "apicall.h"
#include "handletable.h"
#include "textcodec.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

using namespace winsim;

namespace {

constexpr DWORD kQueryInformation = 0x0400; // PROCESS_QUERY_INFORMATION, which includes the limited right
constexpr DWORD kNativeName = 0x00000001; // PROCESS_NAME_NATIVE

// The executable of a process, or the Windows error for why it cannot be had.
DWORD imageOf(DWORD processId, std::string *image)
{
    if (processId > 0x7FFFFFFF) // no process id is negative; kill() would read it as a group
        return ERROR_INVALID_PARAMETER;
    const std::string link = "/proc/" + std::to_string(processId) + "/exe";
    char buffer[4096];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
    if (n > 0 && size_t(n) < sizeof buffer) {
        image->assign(buffer, size_t(n));
        return ERROR_SUCCESS;
    }
    if (n >= 0 || errno != ENOENT)
        return ERROR_ACCESS_DENIED;
    if (kill(pid_t(processId), 0) == 0 || errno == EPERM)
        return ERROR_ACCESS_DENIED; // a kernel thread: it has no image, like Windows' protected processes
    return ERROR_INVALID_PARAMETER; // as Windows answers for an id no process has
}

} // namespace

extern "C" {

DWORD WINAPI GetCurrentProcessId(void)
{
    // It cannot fail; the gate only counts it.
    uint32_t ignored = 0;
    CallGate::instance().enter("GetCurrentProcessId", &ignored);
    return DWORD(getpid());
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL, DWORD dwProcessId)
{
    return handleCall<HANDLE>("OpenProcess", [&]() -> HANDLE {
        if (dwProcessId == 0) { // the idle process cannot be opened
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        HandleEntry entry;
        if (const DWORD error = imageOf(dwProcessId, &entry.key)) {
            SetLastError(error);
            return nullptr;
        }
        entry.kind = HandleKind::Process;
        entry.id = dwProcessId;
        entry.access = dwDesiredAccess;
        return HandleTable::instance().open(entry);
    });
}

BOOL WINAPI QueryFullProcessImageNameW(HANDLE hProcess, DWORD dwFlags, LPWSTR lpExeName, PDWORD lpdwSize)
{
    return boolCall("QueryFullProcessImageNameW", [&]() -> BOOL {
        HandleEntry entry;
        if (!HandleTable::instance().find(hProcess, { HandleKind::Process }, &entry))
            return fail(ERROR_INVALID_HANDLE);
        if (!(entry.access & (PROCESS_QUERY_LIMITED_INFORMATION | kQueryInformation)))
            return fail(ERROR_ACCESS_DENIED);
        if ((dwFlags & ~kNativeName) || !lpdwSize || (!lpExeName && *lpdwSize))
            return fail(ERROR_INVALID_PARAMETER);
        // One file system only: the native form is the same path.
        const std::u16string image = toUtf16(entry.key);
        // In: the buffer's size in characters; out: the characters written, without the null.
        if (*lpdwSize <= image.size())
            return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(lpExeName, image.c_str(), (image.size() + 1) * sizeof(WCHAR));
        *lpdwSize = DWORD(image.size());
        return TRUE;
    });
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    return boolCall("CloseHandle", [&]() -> BOOL {
        if (!HandleTable::instance().close(hObject, { HandleKind::Process }))
            return fail(ERROR_INVALID_HANDLE);
        return TRUE;
    });
}

} // extern "C"
