// The system's own IPv4 TCP table (/proc/net/tcp) in the form of Windows' table with owning
// processes: addresses and ports in network byte order, Windows' state numbers, and as owner the
// process that has the socket open (found through /proc/<pid>/fd). A socket no readable process
// has open, such as one in TIME_WAIT, has owner 0, as on Windows.
#pragma once

#include "win32.h"

#include <vector>

namespace winsim {

enum class TcpRows { Listeners, Connections, All };

// False when the system's table cannot be read.
bool readTcpTable(TcpRows which, std::vector<MIB_TCPROW_OWNER_PID> *rows);

// Windows' order: local address, local port, remote address, remote port, each as a number.
void sortTcpRows(std::vector<MIB_TCPROW_OWNER_PID> *rows);

} // namespace winsim
