#include "jobconnection.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using SocketLength = int;
using NativeSocket = SOCKET;

QString lastSocketError()
{
    return QStringLiteral("socket error %1").arg(WSAGetLastError());
}

bool interruptedOrWouldBlock()
{
    const int code = WSAGetLastError();
    return code == WSAEWOULDBLOCK || code == WSAEINTR;
}
#else
using SocketLength = socklen_t;
using NativeSocket = int;

QString lastSocketError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool interruptedOrWouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
#endif

NativeSocket native(qintptr descriptor)
{
    return NativeSocket(descriptor);
}

} // namespace

JobConnection::JobConnection(qintptr descriptor)
    : m_descriptor(descriptor)
{
    if (m_descriptor >= 0)
        setLinger(true);
}

JobConnection::~JobConnection()
{
    if (m_descriptor >= 0)
        abort();
}

quint16 JobConnection::localPort() const
{
    sockaddr_storage address {};
    SocketLength length = sizeof address;
    if (getsockname(native(m_descriptor), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
    return 0;
}

bool JobConnection::peerEndpoint(quint32 *address, quint16 *port) const
{
    sockaddr_storage peer {};
    SocketLength length = sizeof peer;
    if (getpeername(native(m_descriptor), reinterpret_cast<sockaddr *>(&peer), &length) != 0
        || peer.ss_family != AF_INET)
        return false;
    const auto *ipv4 = reinterpret_cast<const sockaddr_in *>(&peer);
    *address = ntohl(ipv4->sin_addr.s_addr);
    *port = ntohs(ipv4->sin_port);
    return true;
}

JobConnection::Wait JobConnection::waitReadable(int ms)
{
    if (m_descriptor < 0)
        return Wait::Failed;
#ifdef _WIN32
    // One socket in a Windows set is an array entry, not a bit: any socket value fits.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native(m_descriptor), &readable);
    timeval timeout { ms / 1000, (ms % 1000) * 1000 };
    const int ready = select(0, &readable, nullptr, nullptr, &timeout);
#else
    pollfd entry { int(m_descriptor), POLLIN, 0 };
    const int ready = poll(&entry, 1, ms);
#endif
    if (ready > 0)
        return Wait::Readable;
    if (ready == 0 || interruptedOrWouldBlock())
        return Wait::Silent;
    m_error = lastSocketError();
    return Wait::Failed;
}

qint64 JobConnection::receive(char *buffer, qint64 size)
{
    const int chunk = int(qMin<qint64>(size, 1 << 30));
    for (;;) {
        const auto n = recv(native(m_descriptor), buffer, chunk, 0);
        if (n >= 0)
            return qint64(n);
        if (!interruptedOrWouldBlock()) {
            m_error = lastSocketError();
            return -1;
        }
        // Readable but nothing to take (a spurious wake-up): the caller waits again.
        if (waitReadable(0) != Wait::Readable)
            return -2;
    }
}

void JobConnection::close()
{
    if (m_descriptor < 0)
        return;
    setLinger(false);
#ifdef _WIN32
    shutdown(native(m_descriptor), SD_SEND);
#else
    shutdown(int(m_descriptor), SHUT_WR);
#endif
    closeDescriptor();
}

void JobConnection::abort()
{
    if (m_descriptor < 0)
        return;
    setLinger(true);
    closeDescriptor();
}

qintptr JobConnection::release()
{
    const qintptr descriptor = m_descriptor;
    m_descriptor = -1;
    return descriptor;
}

void JobConnection::setLinger(bool resetOnClose)
{
    linger value {};
    value.l_onoff = resetOnClose ? 1 : 0;
    value.l_linger = 0;
    setsockopt(
        native(m_descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&value), sizeof value);
}

void JobConnection::closeDescriptor()
{
#ifdef _WIN32
    closesocket(native(m_descriptor));
#else
    ::close(int(m_descriptor));
#endif
    m_descriptor = -1;
}
