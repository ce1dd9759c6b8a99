// The IP helper's TCP table with owning processes.
#include "apicall.h"
#include "tcptable.h"

#include <cstddef>
#include <cstring>
#include <vector>

using namespace winsim;

namespace {

// What Windows' own header reserves for a table of n rows (SIZEOF_TCPTABLE_OWNER_PID).
constexpr DWORD kAlignSize = 8;

DWORD tableSize(size_t rows)
{
    return DWORD(offsetof(MIB_TCPTABLE_OWNER_PID, table) + rows * sizeof(MIB_TCPROW_OWNER_PID) + kAlignSize);
}

} // namespace

extern "C" {

DWORD WINAPI GetExtendedTcpTable(
    PVOID pTcpTable, PDWORD pdwSize, BOOL bOrder, ULONG ulAf, TCP_TABLE_CLASS TableClass, ULONG Reserved)
{
    return statusCall("GetExtendedTcpTable", [&]() -> DWORD {
        if (!pdwSize || Reserved != 0 || ulAf != AF_INET)
            return ERROR_INVALID_PARAMETER;
        TcpRows which;
        switch (TableClass) {
        case TCP_TABLE_OWNER_PID_LISTENER:
            which = TcpRows::Listeners;
            break;
        case TCP_TABLE_OWNER_PID_CONNECTIONS:
            which = TcpRows::Connections;
            break;
        case TCP_TABLE_OWNER_PID_ALL:
            which = TcpRows::All;
            break;
        case TCP_TABLE_BASIC_LISTENER:
        case TCP_TABLE_BASIC_CONNECTIONS:
        case TCP_TABLE_BASIC_ALL:
        case TCP_TABLE_OWNER_MODULE_LISTENER:
        case TCP_TABLE_OWNER_MODULE_CONNECTIONS:
        case TCP_TABLE_OWNER_MODULE_ALL:
            return ERROR_NOT_SUPPORTED; // their records are not declared here
        default:
            return ERROR_INVALID_PARAMETER;
        }
        std::vector<TcpSocket> sockets;
        if (!readTcpSockets(which, &sockets))
            return ERROR_NOT_SUPPORTED;
        const DWORD needed = tableSize(sockets.size());
        if (!pTcpTable || *pdwSize < needed) {
            *pdwSize = needed;
            return ERROR_INSUFFICIENT_BUFFER; // the owners are not needed to know the size
        }
        findTcpOwners(&sockets);
        if (bOrder)
            sortTcpSockets(&sockets);
        auto *out = static_cast<BYTE *>(pTcpTable);
        const DWORD count = DWORD(sockets.size());
        std::memcpy(out, &count, sizeof count);
        for (size_t i = 0; i < sockets.size(); ++i)
            std::memcpy(out + offsetof(MIB_TCPTABLE_OWNER_PID, table) + i * sizeof(MIB_TCPROW_OWNER_PID),
                &sockets[i].row, sizeof(MIB_TCPROW_OWNER_PID));
        return NO_ERROR;
    });
}

} // extern "C"
