// The service control manager: opening services, their active dependents, status and stopping.
#include "apicall.h"
#include "handletable.h"
#include "recordpacker.h"
#include "servicestate.h"
#include "spoolerservice.h"
#include "textcodec.h"
#include "timesource.h"

#include <cstring>

using namespace winsim;

namespace {

constexpr DWORD kServerUnavailable = 1722; // RPC_S_SERVER_UNAVAILABLE
constexpr DWORD kDatabaseDoesNotExist = 1065; // ERROR_DATABASE_DOES_NOT_EXIST

SERVICE_STATUS statusOf(const ServiceRow &row)
{
    SERVICE_STATUS status {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = row.state;
    status.dwControlsAccepted = (row.state == SERVICE_RUNNING && row.acceptsStop) ? SERVICE_ACCEPT_STOP : 0;
    if (row.state == SERVICE_STOP_PENDING) {
        status.dwCheckPoint = row.checkPoint;
        status.dwWaitHint = row.waitHint;
    }
    return status;
}

bool serviceHandle(SC_HANDLE handle, DWORD access, HandleEntry *entry)
{
    if (!HandleTable::instance().find(handle, { HandleKind::Service }, entry))
        return fail(ERROR_INVALID_HANDLE);
    if ((entry->access & access) != access)
        return fail(ERROR_ACCESS_DENIED);
    return true;
}

} // namespace

extern "C" {

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    return handleCall<SC_HANDLE>("OpenSCManagerW", [&]() -> SC_HANDLE {
        if (lpMachineName && *lpMachineName) {
            SetLastError(kServerUnavailable);
            return nullptr;
        }
        if (lpDatabaseName && foldedKey(toUtf8(lpDatabaseName)) != "SERVICESACTIVE") {
            SetLastError(kDatabaseDoesNotExist);
            return nullptr;
        }
        HandleEntry entry;
        entry.kind = HandleKind::ServiceManager;
        entry.access = dwDesiredAccess;
        return static_cast<SC_HANDLE>(HandleTable::instance().open(entry));
    });
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess)
{
    return handleCall<SC_HANDLE>("OpenServiceW", [&]() -> SC_HANDLE {
        if (!HandleTable::instance().find(hSCManager, { HandleKind::ServiceManager })) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        if (!lpServiceName || !*lpServiceName) {
            SetLastError(ERROR_INVALID_NAME);
            return nullptr;
        }
        Transaction tx(Transaction::Read);
        const auto service = serviceByName(tx, toUtf8(lpServiceName), monotonicMilliseconds());
        if (!service) {
            SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
            return nullptr;
        }
        HandleEntry entry;
        entry.kind = HandleKind::Service;
        entry.id = service->id;
        entry.key = service->name;
        entry.access = dwDesiredAccess;
        return static_cast<SC_HANDLE>(HandleTable::instance().open(entry));
    });
}

BOOL WINAPI EnumDependentServicesW(SC_HANDLE hService, DWORD dwServiceState,
    LPENUM_SERVICE_STATUSW lpServices, DWORD cbBufSize, LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned)
{
    return boolCall("EnumDependentServicesW", [&]() -> BOOL {
        HandleEntry entry;
        if (!serviceHandle(hService, SERVICE_ENUMERATE_DEPENDENTS, &entry))
            return FALSE;
        if (!pcbBytesNeeded || !lpServicesReturned || (!lpServices && cbBufSize))
            return fail(ERROR_INVALID_PARAMETER);
        if (dwServiceState == 0 || (dwServiceState & ~DWORD(SERVICE_STATE_ALL)))
            return fail(ERROR_INVALID_PARAMETER);
        *lpServicesReturned = 0;
        Transaction tx(Transaction::Read);
        std::vector<ServiceRow> selected;
        for (const auto &row : dependentsInStopOrder(tx, entry.key, monotonicMilliseconds())) {
            const bool active = row.state != SERVICE_STOPPED;
            if ((active && (dwServiceState & SERVICE_ACTIVE))
                || (!active && (dwServiceState & SERVICE_INACTIVE)))
                selected.push_back(row);
        }
        size_t needed = 0;
        for (const auto &row : selected)
            needed += sizeof(ENUM_SERVICE_STATUSW) + RecordPacker::textSize(toUtf16(row.name))
                + RecordPacker::textSize(toUtf16(row.display));
        *pcbBytesNeeded = DWORD(needed);
        if (cbBufSize < needed)
            return fail(ERROR_MORE_DATA);
        RecordPacker packer(reinterpret_cast<uint8_t *>(lpServices), cbBufSize);
        for (size_t i = 0; i < selected.size(); ++i) {
            ENUM_SERVICE_STATUSW info {};
            info.lpServiceName = packer.place(toUtf16(selected[i].name));
            info.lpDisplayName = packer.place(toUtf16(selected[i].display));
            info.ServiceStatus = statusOf(selected[i]);
            packer.writeRecord(i, &info, sizeof info);
        }
        *lpServicesReturned = DWORD(selected.size());
        return TRUE;
    });
}

BOOL WINAPI QueryServiceStatusEx(
    SC_HANDLE hService, SC_STATUS_TYPE InfoLevel, LPBYTE lpBuffer, DWORD cbBufSize, LPDWORD pcbBytesNeeded)
{
    return boolCall("QueryServiceStatusEx", [&]() -> BOOL {
        HandleEntry entry;
        if (!serviceHandle(hService, SERVICE_QUERY_STATUS, &entry))
            return FALSE;
        if (InfoLevel != SC_STATUS_PROCESS_INFO)
            return fail(ERROR_INVALID_LEVEL);
        if (!pcbBytesNeeded)
            return fail(ERROR_INVALID_PARAMETER);
        *pcbBytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
        if (cbBufSize < sizeof(SERVICE_STATUS_PROCESS))
            return fail(ERROR_INSUFFICIENT_BUFFER);
        if (!lpBuffer)
            return fail(ERROR_INVALID_PARAMETER);
        std::optional<ServiceRow> row;
        uint32_t named = 0;
        {
            Transaction tx(Transaction::Read);
            row = serviceByName(tx, entry.key, monotonicMilliseconds());
            named = namedSpoolerProcess(tx);
        }
        if (!row)
            return fail(ERROR_SERVICE_DOES_NOT_EXIST);
        const SERVICE_STATUS status = statusOf(*row);
        SERVICE_STATUS_PROCESS process {};
        std::memcpy(&process, &status, sizeof status);
        if (row->state == SERVICE_STOPPED) {
            process.dwProcessId = 0;
        } else if (isSpoolerService(row->name)) {
            // The spooler of Windows always runs; here it is started when asked for.
            process.dwProcessId = named ? named : ensureSpoolerProcess();
            if (!process.dwProcessId)
                return fail(kStateUnavailable);
        } else {
            process.dwProcessId = DWORD(1000 + row->id); // a stand-in: these services do nothing
        }
        std::memcpy(lpBuffer, &process, sizeof process);
        return TRUE;
    });
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus)
{
    return boolCall("ControlService", [&]() -> BOOL {
        HandleEntry entry;
        if (!HandleTable::instance().find(hService, { HandleKind::Service }, &entry))
            return fail(ERROR_INVALID_HANDLE);
        if (!lpServiceStatus)
            return fail(ERROR_INVALID_PARAMETER);
        if (dwControl == SERVICE_CONTROL_STOP && !(entry.access & SERVICE_STOP))
            return fail(ERROR_ACCESS_DENIED);
        const int64_t now = monotonicMilliseconds();
        Transaction tx(Transaction::Write);
        const auto row = serviceByName(tx, entry.key, now);
        if (!row)
            return fail(ERROR_SERVICE_DOES_NOT_EXIST);
        // For these refusals the caller still learns the service's current status.
        *lpServiceStatus = statusOf(*row);
        if (row->state == SERVICE_STOPPED)
            return fail(ERROR_SERVICE_NOT_ACTIVE);
        if (dwControl != SERVICE_CONTROL_STOP || !row->acceptsStop)
            return fail(ERROR_INVALID_SERVICE_CONTROL);
        if (row->state != SERVICE_RUNNING)
            return fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        for (const auto &dependent : dependentsInStopOrder(tx, row->name, now))
            if (dependent.state != SERVICE_STOPPED)
                return fail(ERROR_DEPENDENT_SERVICES_RUNNING);
        beginServiceStop(tx, row->id, now);
        *lpServiceStatus = statusOf(*serviceByName(tx, entry.key, now));
        tx.commit();
        return TRUE;
    });
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject)
{
    return boolCall("CloseServiceHandle", [&]() -> BOOL {
        if (!HandleTable::instance().close(hSCObject, { HandleKind::ServiceManager, HandleKind::Service }))
            return fail(ERROR_INVALID_HANDLE);
        return TRUE;
    });
}

} // extern "C"
