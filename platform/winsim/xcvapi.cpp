// XcvDataW with the "Standard TCP/IP Port" monitor, and driver deletion.
#include "apicall.h"
#include "handletable.h"
#include "spoolerstate.h"
#include "textcodec.h"

#include <cstring>

using namespace winsim;

namespace {

constexpr DWORD kDeleteSpecificVersion = 0x2;
constexpr DWORD kDeleteAllFiles = 0x4;
const char *const kTcpMonitor = "Standard TCP/IP Port";

struct Exchange
{
    const HandleEntry &handle;
    const std::string &command;
    const BYTE *input;
    DWORD inputSize;
    BYTE *output;
    DWORD outputSize;
    DWORD *outputNeeded;
};

// Checks a port record as the monitor does before it touches its ports; 0 when it is acceptable.
DWORD checkPortData(const Exchange &x, PORT_DATA_1 *data, std::string *name)
{
    if (x.inputSize != sizeof(PORT_DATA_1) || !x.input)
        return ERROR_INVALID_PARAMETER;
    std::memcpy(data, x.input, sizeof *data);
    if (data->dwVersion != 1)
        return ERROR_INVALID_LEVEL;
    std::string host;
    if (!fixedFieldText(data->sztPortName, MAX_PORTNAME_LEN, name) || name->empty())
        return ERROR_INVALID_PARAMETER;
    if (!fixedFieldText(data->sztHostAddress, MAX_NETWORKNAME_LEN, &host) || host.empty())
        return ERROR_INVALID_PARAMETER;
    if (data->dwProtocol != PROTOCOL_RAWTCP_TYPE && data->dwProtocol != PROTOCOL_LPR_TYPE)
        return ERROR_INVALID_PARAMETER;
    if (data->dwProtocol == PROTOCOL_RAWTCP_TYPE && (data->dwPortNumber == 0 || data->dwPortNumber > 65535))
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

DWORD monitorCommand(const Exchange &x)
{
    const bool administer = (x.handle.access & SERVER_ACCESS_ADMINISTER) != 0;
    if (x.command == "AddPort" || x.command == "ConfigPort") {
        if (!administer)
            return ERROR_ACCESS_DENIED;
        PORT_DATA_1 data;
        std::string name;
        if (const DWORD status = checkPortData(x, &data, &name))
            return status;
        const std::vector<uint8_t> record(x.input, x.input + sizeof data);
        Transaction tx(Transaction::Write);
        const auto existing = portByName(tx, name);
        if (x.command == "AddPort") {
            if (existing)
                return ERROR_ALREADY_EXISTS;
            addPort(tx, PortRow { 0, name, kTcpMonitor, record });
        } else {
            if (!existing || existing->monitor != kTcpMonitor)
                return ERROR_UNKNOWN_PORT;
            setPortRecord(tx, existing->id, record);
        }
        tx.commit();
        return ERROR_SUCCESS;
    }
    if (x.command == "DeletePort") {
        if (!administer)
            return ERROR_ACCESS_DENIED;
        if (x.inputSize != sizeof(DELETE_PORT_DATA_1) || !x.input)
            return ERROR_INVALID_PARAMETER;
        DELETE_PORT_DATA_1 data;
        std::memcpy(&data, x.input, sizeof data);
        if (data.dwVersion != 1)
            return ERROR_INVALID_LEVEL;
        std::string name;
        if (!fixedFieldText(data.psztPortName, MAX_PORTNAME_LEN, &name) || name.empty())
            return ERROR_INVALID_PARAMETER;
        Transaction tx(Transaction::Write);
        const auto existing = portByName(tx, name);
        if (!existing || existing->monitor != kTcpMonitor)
            return ERROR_UNKNOWN_PORT;
        if (portInUse(tx, existing->name))
            return ERROR_BUSY;
        deletePort(tx, existing->id);
        tx.commit();
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_PARAMETER;
}

DWORD portCommand(const Exchange &x)
{
    if (x.command != "GetConfigInfo")
        return ERROR_INVALID_PARAMETER;
    if (x.inputSize != sizeof(CONFIG_INFO_DATA_1) || !x.input)
        return ERROR_INVALID_PARAMETER;
    CONFIG_INFO_DATA_1 query;
    std::memcpy(&query, x.input, sizeof query);
    if (query.dwVersion != 1)
        return ERROR_INVALID_LEVEL;
    Transaction tx(Transaction::Read);
    std::optional<PortRow> port;
    for (auto &row : ports(tx))
        if (row.id == x.handle.id)
            port = row;
    if (!port)
        return ERROR_UNKNOWN_PORT; // deleted since the handle was opened
    *x.outputNeeded = sizeof(PORT_DATA_1);
    if (x.outputSize < sizeof(PORT_DATA_1))
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(x.output, port->record.data(), sizeof(PORT_DATA_1));
    return ERROR_SUCCESS;
}

} // namespace

extern "C" {

BOOL WINAPI XcvDataW(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
    DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus)
{
    return boolCall("XcvDataW", [&]() -> BOOL {
        HandleEntry entry;
        if (!HandleTable::instance().find(hXcv, { HandleKind::XcvMonitor, HandleKind::XcvPort }, &entry))
            return fail(ERROR_INVALID_HANDLE);
        if (!pszDataName || !pcbOutputNeeded || !pdwStatus || (!pInputData && cbInputData))
            return fail(ERROR_INVALID_PARAMETER);
        if (!pOutputData && cbOutputData)
            return fail(ERROR_INVALID_USER_BUFFER);
        // Only the Standard TCP/IP monitor speaks this channel here; other monitors' ports open
        // but cannot exchange.
        if (entry.key != kTcpMonitor)
            return fail(ERROR_NOT_SUPPORTED);
        *pcbOutputNeeded = 0;
        const std::string command = toUtf8(pszDataName);
        const Exchange exchange { entry, command, pInputData, cbInputData, pOutputData, cbOutputData,
            pcbOutputNeeded };
        *pdwStatus = entry.kind == HandleKind::XcvMonitor ? monitorCommand(exchange) : portCommand(exchange);
        return TRUE;
    });
}

BOOL WINAPI DeletePrinterDriverExW(
    LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName, DWORD dwDeleteFlag, DWORD dwVersionFlag)
{
    return boolCall("DeletePrinterDriverExW", [&]() -> BOOL {
        if (pName && *pName)
            return fail(ERROR_INVALID_NAME);
        if (!pDriverName || !*pDriverName)
            return fail(ERROR_INVALID_PARAMETER);
        if (dwDeleteFlag & ~(DPD_DELETE_UNUSED_FILES | kDeleteSpecificVersion | kDeleteAllFiles))
            return fail(ERROR_INVALID_PARAMETER);
        const Environment *environment = findEnvironment(kMachineEnvironment);
        if (pEnvironment && *pEnvironment)
            environment = findEnvironment(toUtf8(pEnvironment));
        if (!environment)
            return fail(ERROR_INVALID_ENVIRONMENT);
        // Every driver here is a version-3 driver.
        if ((dwDeleteFlag & kDeleteSpecificVersion) && dwVersionFlag != 3)
            return fail(ERROR_UNKNOWN_PRINTER_DRIVER);
        Transaction tx(Transaction::Write);
        const auto row = driver(tx, toUtf8(pDriverName), *environment);
        if (!row)
            return fail(ERROR_UNKNOWN_PRINTER_DRIVER);
        if (driverInUse(tx, *row))
            return fail(ERROR_PRINTER_DRIVER_IN_USE);
        removeDriver(tx, *row);
        tx.commit();
        return TRUE;
    });
}

} // extern "C"
