#include "connectiondrop.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

int portOf(const sockaddr_storage &addr)
{
    if (addr.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(addr).sin_port);
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(addr).sin6_port);
    return -1;
}

bool matches(int fd, int localPort, int remotePort)
{
    sockaddr_storage local {};
    sockaddr_storage peer {};
    socklen_t localLen = sizeof local;
    socklen_t peerLen = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLen) != 0
        || ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLen) != 0)
        return false;
    return portOf(local) == localPort && portOf(peer) == remotePort;
}

std::vector<int> openDescriptors()
{
    std::vector<int> fds;
    if (DIR *dir = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9')
                fds.push_back(std::atoi(entry->d_name));
        }
        ::closedir(dir);
        return fds;
    }
    // Without /proc every descriptor number up to a sane bound is tried.
    long max = ::sysconf(_SC_OPEN_MAX);
    if (max <= 0 || max > 65536)
        max = 65536;
    for (int fd = 0; fd < max; ++fd)
        fds.push_back(fd);
    return fds;
}

} // namespace

bool dropConnection(int localPort, int remotePort)
{
    // The connection belongs to the calling thread, which is busy serving it, so the descriptor
    // that matches cannot be closed and reused under our hands.
    for (const int fd : openDescriptors()) {
        if (matches(fd, localPort, remotePort))
            return ::shutdown(fd, SHUT_RDWR) == 0;
    }
    return false;
}
