// A second process for the winsim network suite: one end of a loopback connection, or another
// process of the machine asking the service manager and naming the spooler's process.
//   winsimpeer connect PORT      connects to 127.0.0.1:PORT, prints its own port, holds the
//                                connection until standard input ends
//   winsimpeer spooler-pid       prints the "Spooler" service's process id
//   winsimpeer name-spooler PID  names the process to be taken for the spooler
#include "win32.h"
#include "winsim/winsimcontrol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int holdConnection(const char *port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(std::atoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::perror("winsimpeer: connect");
        return 1;
    }
    sockaddr_in local {};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    std::printf("%u\n", unsigned(ntohs(local.sin_port)));
    std::fflush(stdout);
    char chunk[256];
    while (read(0, chunk, sizeof chunk) > 0) { }
    close(fd);
    return 0;
}

int printSpoolerPid()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE spooler = manager ? OpenServiceW(manager, u"Spooler", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS status {};
    DWORD needed = 0;
    const bool ok = spooler
        && QueryServiceStatusEx(
            spooler, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof status, &needed);
    if (spooler)
        CloseServiceHandle(spooler);
    if (manager)
        CloseServiceHandle(manager);
    if (!ok) {
        std::fprintf(stderr, "winsimpeer: the spooler's status: error %u\n", unsigned(GetLastError()));
        return 1;
    }
    std::printf("%u\n", unsigned(status.dwProcessId));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "connect") == 0)
        return holdConnection(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "spooler-pid") == 0)
        return printSpoolerPid();
    if (argc == 3 && std::strcmp(argv[1], "name-spooler") == 0) {
        std::string error;
        if (winsim::nameSpoolerProcess(uint32_t(std::strtoul(argv[2], nullptr, 10)), &error))
            return 0;
        std::fprintf(stderr, "winsimpeer: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "usage: winsimpeer connect PORT | spooler-pid | name-spooler PID\n");
    return 2;
}
