#include "connectionowners.h"

#ifdef _WIN32
// The socket header comes first: the helper API's header relies on it.
#include <winsock2.h>

#include <iphlpapi.h>
#else
#include <arpa/inet.h>
#endif
#include "win32.h"

#include <QDebug>

#include <algorithm>
#include <vector>

ConnectionOwners::ConnectionOwners()
{
    // Connections come and go between the size query and the read, by the thousand when another
    // program floods a port: ask again with room for the table to have grown meanwhile.
    std::vector<unsigned char> buffer(sizeof(MIB_TCPTABLE_OWNER_PID) + 256 * sizeof(MIB_TCPROW_OWNER_PID));
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 8 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        DWORD size = DWORD(buffer.size());
        result
            = GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        if (result == ERROR_INSUFFICIENT_BUFFER)
            buffer.resize(std::max<size_t>(size_t(size) * 2, buffer.size() * 2));
    }
    if (result != NO_ERROR) {
        qWarning() << "ConnectionOwners GetExtendedTcpTable failed:" << result;
        return;
    }
    const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.data());
    m_rows.reserve(int(table->dwNumEntries));
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID &row = table->table[i];
        m_rows.append({ ntohl(row.dwLocalAddr), ntohs(quint16(row.dwLocalPort)), ntohl(row.dwRemoteAddr),
            ntohs(quint16(row.dwRemotePort)), quint32(row.dwOwningPid) });
    }
    m_valid = true;
}

quint32 ConnectionOwners::ownerOf(
    quint32 address, quint16 port, quint32 remoteAddress, quint16 remotePort) const
{
    for (const Row &row : m_rows) {
        if (row.localAddress == address && row.localPort == port && row.remoteAddress == remoteAddress
            && row.remotePort == remotePort)
            return row.owner;
    }
    return 0;
}
