#include "exclusivelistener.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
QString socketError()
{
    return QStringLiteral("socket error %1").arg(WSAGetLastError());
}

void closeSocket(SOCKET socket)
{
    closesocket(socket);
}

bool startSockets()
{
    // Qt starts Winsock with its first socket engine; this may run before any exists.
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;

QString socketError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

void closeSocket(SOCKET socket)
{
    ::close(socket);
}

bool startSockets()
{
    return true;
}
#endif

} // namespace

qintptr listenExclusively(quint16 port, QString *error)
{
    if (!startSockets()) {
        *error = QStringLiteral("sockets unavailable");
        return -1;
    }
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) {
        *error = socketError();
        return -1;
    }
    const int on = 1;
#ifdef _WIN32
    const int option = SO_EXCLUSIVEADDRUSE;
#else
    // Linux lets no second socket listen on a bound port without SO_REUSEPORT; reuse here only
    // lets a restart bind while the last run's connections linger in TIME_WAIT.
    const int option = SO_REUSEADDR;
#endif
    if (setsockopt(listener, SOL_SOCKET, option, reinterpret_cast<const char *>(&on), sizeof on) != 0) {
        *error = socketError();
        closeSocket(listener);
        return -1;
    }
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || listen(listener, SOMAXCONN) != 0) {
        *error = socketError();
        closeSocket(listener);
        return -1;
    }
    return qintptr(listener);
}
