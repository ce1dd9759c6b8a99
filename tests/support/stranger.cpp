// A local process that is not the spooler and talks to a printer's port, as any program on the
// machine could:
//
//   stranger PORT idle COUNT      opens COUNT connections and keeps them open, sending nothing
//   stranger PORT send FILE       connects once, sends the file's bytes and closes
//
// Prints "ready N" once its N connections are made (or the bytes are sent and the connection
// closed), then waits until its standard input closes. Connections the other end refused or reset
// count as made: the point is that they were tried.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int connectTo(unsigned port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void waitForStdinToClose()
{
    char buffer[256];
    while (read(0, buffer, sizeof buffer) > 0) { }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: stranger PORT idle COUNT | stranger PORT send FILE\n");
        return 2;
    }
    const unsigned port = unsigned(std::strtoul(argv[1], nullptr, 10));
    if (std::strcmp(argv[2], "idle") == 0) {
        const int count = std::atoi(argv[3]);
        rlimit limit {};
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < rlim_t(count) + 64) {
            limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, rlim_t(count) + 64);
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        std::vector<int> held;
        int made = 0;
        for (int i = 0; i < count; ++i) {
            const int fd = connectTo(port);
            if (fd >= 0)
                held.push_back(fd);
            else if (errno != ECONNREFUSED)
                std::fprintf(stderr, "stranger: connection %d: %s\n", i, std::strerror(errno));
            ++made;
        }
        std::printf("ready %d\n", made);
        std::fflush(stdout);
        waitForStdinToClose();
        for (int fd : held)
            close(fd);
        return 0;
    }
    if (std::strcmp(argv[2], "send") == 0) {
        FILE *file = std::fopen(argv[3], "rb");
        if (!file) {
            std::fprintf(stderr, "stranger: cannot read %s\n", argv[3]);
            return 1;
        }
        const int fd = connectTo(port);
        if (fd < 0) {
            std::fprintf(stderr, "stranger: cannot connect: %s\n", std::strerror(errno));
            std::fclose(file);
            return 1;
        }
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            if (send(fd, buffer, n, MSG_NOSIGNAL) < 0)
                break; // reset by the other end: refused, which is what a stranger gets
        }
        std::fclose(file);
        shutdown(fd, SHUT_WR);
        // Whatever the other end says, or its reset, ends the exchange.
        while (read(fd, buffer, sizeof buffer) > 0) { }
        close(fd);
        std::printf("ready 1\n");
        std::fflush(stdout);
        waitForStdinToClose();
        return 0;
    }
    std::fprintf(stderr, "stranger: unknown mode %s\n", argv[2]);
    return 2;
}
