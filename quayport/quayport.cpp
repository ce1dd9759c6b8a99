#include "quayport.h"

#include <cstddef>
#include <cstring>

// The monitor reads these records byte for byte; a layout that drifted would configure garbage.
static_assert(sizeof(PORT_DATA_1) == 964, "PORT_DATA_1 must be 964 bytes");
static_assert(offsetof(PORT_DATA_1, dwVersion) == 128, "PORT_DATA_1 layout");
static_assert(offsetof(PORT_DATA_1, sztHostAddress) == 144, "PORT_DATA_1 layout");
static_assert(offsetof(PORT_DATA_1, dwDoubleSpool) == 308, "PORT_DATA_1 layout");
static_assert(offsetof(PORT_DATA_1, Reserved) == 410, "PORT_DATA_1 layout");
static_assert(offsetof(PORT_DATA_1, dwPortNumber) == 952, "PORT_DATA_1 layout");
static_assert(sizeof(DELETE_PORT_DATA_1) == 236, "DELETE_PORT_DATA_1 must be 236 bytes");
static_assert(offsetof(DELETE_PORT_DATA_1, dwVersion) == 228, "DELETE_PORT_DATA_1 layout");
static_assert(sizeof(CONFIG_INFO_DATA_1) == 132, "CONFIG_INFO_DATA_1 must be 132 bytes");
static_assert(offsetof(CONFIG_INFO_DATA_1, dwVersion) == 128, "CONFIG_INFO_DATA_1 layout");

namespace {

const DWORD kStopBudgetMs = 30000;
const DWORD kDependentAccess = SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS;
const size_t kXcvNameUnits = 64;

size_t textLength(LPCWSTR text)
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// Copies text with its terminator into a field of `units` code units; false when it does not fit.
bool copyText(WCHAR *field, size_t units, LPCWSTR text)
{
    const size_t length = textLength(text);
    if (length >= units)
        return false;
    std::memcpy(field, text, (length + 1) * sizeof(WCHAR));
    return true;
}

// WCHAR is wchar_t on Windows and char16_t under winsim, so no literal prefix fits both.
void appendAscii(WCHAR *field, size_t *used, const char *ascii)
{
    for (; *ascii != 0; ++ascii)
        field[(*used)++] = static_cast<WCHAR>(*ascii);
    field[*used] = 0;
}

PortResult refuseArgument()
{
    // Our own refusal, before any handle exists: the channel was not opened.
    SetLastError(ERROR_INVALID_PARAMETER);
    return PortResultOpenFailed;
}

bool fillPortData(PORT_DATA_1 *data, LPCWSTR portName, LPCWSTR hostAddress, DWORD portNumber)
{
    std::memset(data, 0, sizeof(*data));
    if (portName == nullptr || hostAddress == nullptr)
        return false;
    if (!copyText(data->sztPortName, MAX_PORTNAME_LEN, portName)
        || !copyText(data->sztHostAddress, MAX_NETWORKNAME_LEN, hostAddress))
        return false;
    data->dwVersion = 1;
    data->dwProtocol = PROTOCOL_RAWTCP_TYPE;
    data->cbSize = sizeof(PORT_DATA_1);
    data->dwDoubleSpool = 1;
    data->dwPortNumber = portNumber;
    return true;
}

// Opens the configuration channel named `name`, makes one XcvDataW exchange and closes the channel.
// Add, configure and delete treat the all-ones handle as a failed open; the query does not, because
// the query only ever opened a port and never saw that value from the spooler.
PortResult exchange(WCHAR *name, bool rejectAllOnes, const char *command, void *input, DWORD inputSize,
    void *output, DWORD outputSize)
{
    PRINTER_DEFAULTSW defaults;
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = SERVER_ACCESS_ADMINISTER;

    HANDLE xcv = nullptr;
    if (!OpenPrinterW(name, &xcv, &defaults))
        return PortResultOpenFailed;
    if (rejectAllOnes && xcv == INVALID_HANDLE_VALUE)
        return PortResultOpenFailed;

    WCHAR commandName[16];
    size_t used = 0;
    appendAscii(commandName, &used, command);

    DWORD needed = 0;
    DWORD status = 0;
    const BOOL ok = XcvDataW(xcv, commandName, static_cast<PBYTE>(input), inputSize,
        static_cast<PBYTE>(output), outputSize, &needed, &status);
    // Keep the exchange's last error for the caller, not the close's.
    const DWORD error = GetLastError();
    ClosePrinter(xcv);
    SetLastError(error);

    if (!ok)
        return PortResultExchangeFailed;
    return status == 0 ? PortResultOk : PortResultRefused;
}

PortResult sendPortData(const char *command, LPCWSTR portName, LPCWSTR hostAddress, DWORD portNumber)
{
    PORT_DATA_1 data;
    if (!fillPortData(&data, portName, hostAddress, portNumber))
        return refuseArgument();

    WCHAR monitor[kXcvNameUnits];
    size_t used = 0;
    appendAscii(monitor, &used, ",XcvMonitor Standard TCP/IP Port");
    return exchange(monitor, true, command, &data, sizeof(data), nullptr, 0);
}

void freeBuffer(void *buffer)
{
    HeapFree(GetProcessHeap(), 0, buffer);
}

// Sends the stop request and waits, within what is left of the budget, until the service reports
// stopped. A service that accepts the request but then reports neither stop-pending nor stopped is
// asked again after its wait hint; that also counts against the budget.
bool stopAndWait(SC_HANDLE service, DWORD startTick)
{
    SERVICE_STATUS status;
    std::memset(&status, 0, sizeof(status));
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
        return false;

    DWORD state = status.dwCurrentState;
    DWORD waitHint = status.dwWaitHint;
    while (state != SERVICE_STOPPED) {
        Sleep(waitHint);
        SERVICE_STATUS_PROCESS process;
        std::memset(&process, 0, sizeof(process));
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&process),
                sizeof(process), &needed))
            return false;
        state = process.dwCurrentState;
        waitHint = process.dwWaitHint;
        if (state == SERVICE_STOPPED)
            break;
        if (GetTickCount() - startTick > kStopBudgetMs)
            return false;
        if (state != SERVICE_STOP_PENDING) {
            if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
                return false;
            state = status.dwCurrentState;
            waitHint = status.dwWaitHint;
        }
    }
    return true;
}

// One dependent: open, look, stop unless it is stopped or already on its way, close.
bool stopDependent(SC_HANDLE manager, LPCWSTR name, DWORD startTick)
{
    SC_HANDLE service = OpenServiceW(manager, name, kDependentAccess);
    if (service == nullptr)
        return false;

    SERVICE_STATUS_PROCESS process;
    std::memset(&process, 0, sizeof(process));
    DWORD needed = 0;
    bool done = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&process),
                    sizeof(process), &needed)
        != FALSE;
    if (done && process.dwCurrentState != SERVICE_STOPPED && process.dwCurrentState != SERVICE_STOP_PENDING)
        done = stopAndWait(service, startTick);

    const DWORD error = GetLastError();
    CloseServiceHandle(service);
    SetLastError(error);
    return done;
}

} // namespace

extern "C" {

PortResult WINAPI AddStandardTcpPort(LPCWSTR portName, LPCWSTR hostAddress, DWORD portNumber)
{
    return sendPortData("AddPort", portName, hostAddress, portNumber);
}

PortResult WINAPI ConfigStandardTcpPort(LPCWSTR portName, LPCWSTR hostAddress, DWORD portNumber)
{
    return sendPortData("ConfigPort", portName, hostAddress, portNumber);
}

PortResult WINAPI DeleteStandardTcpPort(LPCWSTR portName)
{
    DELETE_PORT_DATA_1 data;
    std::memset(&data, 0, sizeof(data));
    if (portName == nullptr || !copyText(data.psztPortName, MAX_PORTNAME_LEN, portName))
        return refuseArgument();
    data.dwVersion = 1;

    WCHAR monitor[kXcvNameUnits];
    size_t used = 0;
    appendAscii(monitor, &used, ",XcvMonitor Standard TCP/IP Port");
    return exchange(monitor, true, "DeletePort", &data, sizeof(data), nullptr, 0);
}

PortResult WINAPI GetConfigStandardTcpPort(LPCWSTR portName, LPWSTR hostAddress, DWORD *portNumber)
{
    if (portName == nullptr || hostAddress == nullptr || portNumber == nullptr)
        return refuseArgument();

    // A longer name would be cut short and name some other port.
    WCHAR name[kXcvNameUnits];
    size_t used = 0;
    appendAscii(name, &used, ",XcvPort ");
    if (!copyText(name + used, kXcvNameUnits - used, portName))
        return refuseArgument();

    CONFIG_INFO_DATA_1 query;
    std::memset(&query, 0, sizeof(query));
    query.dwVersion = 1;
    PORT_DATA_1 answer;
    std::memset(&answer, 0, sizeof(answer));

    const PortResult result
        = exchange(name, false, "GetConfigInfo", &query, sizeof(query), &answer, sizeof(answer));
    if (result != PortResultOk)
        return result;

    // The monitor's text is trusted only within its field.
    answer.sztHostAddress[MAX_NETWORKNAME_LEN - 1] = 0;
    copyText(hostAddress, MAX_NETWORKNAME_LEN, answer.sztHostAddress);
    *portNumber = answer.dwPortNumber;
    return PortResultOk;
}

BOOL WINAPI StopDependentServices(SC_HANDLE manager, SC_HANDLE service)
{
    const DWORD startTick = GetTickCount();

    DWORD needed = 0;
    DWORD count = 0;
    if (EnumDependentServicesW(service, SERVICE_ACTIVE, nullptr, 0, &needed, &count))
        return TRUE; // an empty buffer was enough: nothing depends on it
    if (GetLastError() != ERROR_MORE_DATA)
        return FALSE;

    auto *dependents
        = static_cast<LPENUM_SERVICE_STATUSW>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed));
    if (dependents == nullptr)
        return FALSE;
    if (!EnumDependentServicesW(service, SERVICE_ACTIVE, dependents, needed, &needed, &count)) {
        const DWORD error = GetLastError();
        freeBuffer(dependents);
        SetLastError(error);
        return FALSE;
    }

    bool stopped = true;
    for (DWORD i = 0; i < count && stopped; ++i)
        stopped = stopDependent(manager, dependents[i].lpServiceName, startTick);

    const DWORD error = GetLastError();
    freeBuffer(dependents);
    SetLastError(error);
    return stopped ? TRUE : FALSE;
}

BOOL WINAPI QDeletePrinterDriver(LPCWSTR driverName, LPCWSTR environment)
{
    // The spooler does not write to these strings; its prototype merely lacks the const.
    return DeletePrinterDriverExW(
        nullptr, const_cast<LPWSTR>(environment), const_cast<LPWSTR>(driverName), DPD_DELETE_UNUSED_FILES, 0);
}

} // extern "C"
