// The system's own IPv4 TCP table (/proc/net/tcp) in the form of Windows' table with owning
// processes: addresses and ports in network byte order, Windows' state numbers, and as owner the
// process that has the socket open (found through /proc/<pid>/fd). A socket no readable process
// has open, such as one in TIME_WAIT, has owner 0, as on Windows.
#pragma once

#include "win32.h"

#include <cstdint>

#include <vector>

namespace winsim {

enum class TcpRows { Listeners, Connections, All };

struct TcpSocket
{
    MIB_TCPROW_OWNER_PID row {};
    uint64_t inode = 0; // 0 for a socket no process holds
};

// The rows without owners yet; false when the system's table cannot be read. Taken from the
// kernel's socket diagnostics, or from /proc/net/tcp where they are missing (or when
// WINSIM_TCP_TABLE is "proc").
bool readTcpSockets(TcpRows which, std::vector<TcpSocket> *sockets);

// Fills in each row's owner: this process first, then the others that may be looked at.
void findTcpOwners(std::vector<TcpSocket> *sockets);

// Windows' order: local address, local port, remote address, remote port, each as a number.
void sortTcpSockets(std::vector<TcpSocket> *sockets);

} // namespace winsim
