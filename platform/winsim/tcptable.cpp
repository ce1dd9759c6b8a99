#include "tcptable.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

namespace winsim {
namespace {

constexpr uint32_t kLinuxListen = 0x0A;

// Linux's states (include/net/tcp_states.h) as Windows numbers them.
DWORD windowsState(uint32_t linuxState)
{
    switch (linuxState) {
    case 0x01:
        return MIB_TCP_STATE_ESTAB;
    case 0x02:
        return MIB_TCP_STATE_SYN_SENT;
    case 0x03:
        return MIB_TCP_STATE_SYN_RCVD;
    case 0x04:
        return MIB_TCP_STATE_FIN_WAIT1;
    case 0x05:
        return MIB_TCP_STATE_FIN_WAIT2;
    case 0x06:
        return MIB_TCP_STATE_TIME_WAIT;
    case 0x07:
        return MIB_TCP_STATE_CLOSED;
    case 0x08:
        return MIB_TCP_STATE_CLOSE_WAIT;
    case 0x09:
        return MIB_TCP_STATE_LAST_ACK;
    case 0x0A:
        return MIB_TCP_STATE_LISTEN;
    case 0x0B:
        return MIB_TCP_STATE_CLOSING;
    case 0x0C:
        return MIB_TCP_STATE_SYN_RCVD; // a connection request not yet accepted
    default:
        return MIB_TCP_STATE_CLOSED;
    }
}

bool readWhole(const char *path, std::string *text)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    text->clear();
    size_t used = 0;
    for (;;) {
        if (text->size() - used < 65536)
            text->resize(used + 262144);
        const ssize_t n = read(fd, &(*text)[used], text->size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            text->resize(used);
            return n == 0;
        }
        used += size_t(n);
    }
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads hex digits at p; p ends after them.
uint64_t hexNumber(const char *&p, const char *end)
{
    uint64_t value = 0;
    for (int d; p < end && (d = hexDigit(*p)) >= 0; ++p)
        value = value * 16 + uint64_t(d);
    return value;
}

uint64_t decimalNumber(const char *&p, const char *end)
{
    uint64_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + uint64_t(*p - '0');
    return value;
}

void skipSpaces(const char *&p, const char *end)
{
    while (p < end && *p == ' ')
        ++p;
}

void skipField(const char *&p, const char *end)
{
    skipSpaces(p, end);
    while (p < end && *p != ' ' && *p != '\n')
        ++p;
}

// "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ..."; false for the heading.
bool parseLine(const char *p, const char *end, MIB_TCPROW_OWNER_PID *row, uint32_t *state, uint64_t *inode)
{
    skipSpaces(p, end);
    decimalNumber(p, end);
    if (p >= end || *p != ':')
        return false;
    ++p;
    skipSpaces(p, end);
    // The kernel prints an address as the 32-bit word it keeps in network order, read natively.
    row->dwLocalAddr = DWORD(hexNumber(p, end));
    ++p; // ':'
    row->dwLocalPort = htons(uint16_t(hexNumber(p, end)));
    skipSpaces(p, end);
    row->dwRemoteAddr = DWORD(hexNumber(p, end));
    ++p;
    row->dwRemotePort = htons(uint16_t(hexNumber(p, end)));
    skipSpaces(p, end);
    *state = uint32_t(hexNumber(p, end));
    for (int field = 0; field < 5; ++field) // tx:rx, tr:when, retrnsmt, uid, timeout
        skipField(p, end);
    skipSpaces(p, end);
    *inode = decimalNumber(p, end);
    row->dwState = windowsState(*state);
    row->dwOwningPid = 0;
    return true;
}

// Calls `visit` with the name of every entry of an open folder until it returns false, reading in
// large batches: a process with thousands of descriptors has thousands of entries, and readdir's
// small reads add up.
template<typename Visit> void forEachEntry(int dir, Visit visit)
{
    char entries[16384];
    for (;;) {
        const long n = syscall(SYS_getdents64, dir, entries, sizeof entries);
        if (n <= 0)
            return;
        for (long at = 0; at < n;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(entries + at);
            at += entry->d_reclen;
            if (!visit(entry->d_name))
                return;
        }
    }
}

// The sockets still looking for their owner, by inode.
class OwnerSearch
{
public:
    explicit OwnerSearch(std::vector<TcpSocket> *sockets)
        : m_sockets(sockets)
    {
        for (size_t i = 0; i < sockets->size(); ++i)
            if ((*sockets)[i].inode)
                m_wanted.emplace_back((*sockets)[i].inode, i);
        std::sort(m_wanted.begin(), m_wanted.end());
        m_left = m_wanted.size();
    }

    bool done() const { return m_left == 0; }

    void found(uint64_t inode, DWORD pid)
    {
        auto it = std::lower_bound(m_wanted.begin(), m_wanted.end(), std::make_pair(inode, size_t(0)));
        // One socket may appear in several rows (never for IPv4, but cheap to allow) and in several
        // processes (inherited): the first process found keeps it.
        for (; it != m_wanted.end() && it->first == inode; ++it) {
            MIB_TCPROW_OWNER_PID &row = (*m_sockets)[it->second].row;
            if (row.dwOwningPid == 0) {
                row.dwOwningPid = pid;
                --m_left;
            }
        }
    }

    // Goes through one process's descriptors.
    void scanProcess(int procFd, DWORD pid)
    {
        char path[32];
        std::snprintf(path, sizeof path, "%u/fd", unsigned(pid));
        const int dir = openat(procFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0)
            return; // another user's process: its sockets keep owner 0
        forEachEntry(dir, [&](const char *name) {
            if (name[0] == '.')
                return true;
            char link[64];
            const ssize_t length = readlinkat(dir, name, link, sizeof link);
            // "socket:[12345]"
            if (length > 9 && std::memcmp(link, "socket:[", 8) == 0) {
                const char *p = link + 8;
                found(decimalNumber(p, link + length), pid);
            }
            return true;
        });
        close(dir);
    }

    // This process's own descriptors: fstat gives a socket's inode without going through /proc.
    void scanSelf(DWORD pid)
    {
        const int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0)
            return;
        forEachEntry(dir, [&](const char *name) {
            const char *p = name;
            const char *end = p + std::strlen(p);
            const int fd = int(decimalNumber(p, end));
            struct stat info
            {
            };
            if (p == end && p != name && fd != dir && fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode))
                found(uint64_t(info.st_ino), pid);
            return true;
        });
        close(dir);
    }

private:
    std::vector<std::pair<uint64_t, size_t>> m_wanted;
    std::vector<TcpSocket> *m_sockets;
    size_t m_left = 0;
};

void findOwners(OwnerSearch *search)
{
    if (search->done())
        return;
    const DWORD self = DWORD(getpid());
    search->scanSelf(self);
    if (search->done())
        return;
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return;
    forEachEntry(proc, [&](const char *name) {
        const char *p = name;
        const char *end = p + std::strlen(p);
        const uint64_t pid = decimalNumber(p, end);
        if (p == end && pid > 0 && DWORD(pid) != self)
            search->scanProcess(proc, DWORD(pid));
        return !search->done();
    });
    close(proc);
}

} // namespace

namespace {

bool keeps(TcpRows which, uint32_t linuxState)
{
    const bool listening = linuxState == kLinuxListen;
    return which == TcpRows::All || listening == (which == TcpRows::Listeners);
}

void addRow(const MIB_TCPROW_OWNER_PID &row, uint64_t inode, std::vector<TcpSocket> *sockets)
{
    sockets->push_back({ row, inode });
}

bool readProcTable(TcpRows which, std::vector<TcpSocket> *rows)
{
    std::string text;
    if (!readWhole("/proc/net/tcp", &text))
        return false;
    const char *p = text.data();
    const char *const end = p + text.size();
    while (p < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        MIB_TCPROW_OWNER_PID row {};
        uint32_t state = 0;
        uint64_t inode = 0;
        if (parseLine(p, lineEnd, &row, &state, &inode) && keeps(which, state))
            addRow(row, inode, rows);
        p = lineEnd + 1;
    }
    return true;
}

// The same table through the kernel's socket diagnostics: one dump, filtered by state in the
// kernel, instead of /proc/net/tcp's text, which the kernel makes a page per read at a price that
// grows with the table. False when the kernel does not offer it.
bool readDiagTable(TcpRows which, std::vector<TcpSocket> *rows)
{
    const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return false;
    struct
    {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query {};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    query.request.sdiag_family = AF_INET;
    query.request.sdiag_protocol = IPPROTO_TCP;
    const uint32_t listen = 1u << kLinuxListen;
    const uint32_t every = 0x1FFEu; // states 1 to 12
    query.request.idiag_states = which == TcpRows::Listeners ? listen
        : which == TcpRows::Connections                      ? every & ~listen
                                                             : every;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd, &query, sizeof query, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
        close(fd);
        return false;
    }
    static thread_local std::vector<char> buffer(1 << 17);
    for (;;) {
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            return false;
        }
        size_t left = size_t(n);
        for (auto *message = reinterpret_cast<nlmsghdr *>(buffer.data()); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type == NLMSG_DONE) {
                close(fd);
                return true;
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                close(fd);
                return false;
            }
            if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY)
                continue;
            const auto *socket = static_cast<const inet_diag_msg *>(NLMSG_DATA(message));
            if (!keeps(which, socket->idiag_state))
                continue;
            MIB_TCPROW_OWNER_PID row {};
            row.dwState = windowsState(socket->idiag_state);
            // Both already in network order, as Windows wants them.
            row.dwLocalAddr = socket->id.idiag_src[0];
            row.dwLocalPort = socket->id.idiag_sport;
            row.dwRemoteAddr = socket->id.idiag_dst[0];
            row.dwRemotePort = socket->id.idiag_dport;
            addRow(row, socket->idiag_inode, rows);
        }
    }
}

} // namespace

bool readTcpSockets(TcpRows which, std::vector<TcpSocket> *sockets)
{
    sockets->clear();
    const char *source = std::getenv("WINSIM_TCP_TABLE");
    const bool procOnly = source && std::strcmp(source, "proc") == 0;
    if (!procOnly && readDiagTable(which, sockets))
        return true;
    sockets->clear();
    return readProcTable(which, sockets);
}

void findTcpOwners(std::vector<TcpSocket> *sockets)
{
    OwnerSearch search(sockets);
    findOwners(&search);
}

void sortTcpSockets(std::vector<TcpSocket> *sockets)
{
    // The order of the TCP connection table's index in the standard MIB, which Windows follows.
    const auto key = [](const MIB_TCPROW_OWNER_PID &r) {
        return std::make_tuple(ntohl(r.dwLocalAddr), ntohs(uint16_t(r.dwLocalPort)), ntohl(r.dwRemoteAddr),
            ntohs(uint16_t(r.dwRemotePort)));
    };
    std::stable_sort(sockets->begin(), sockets->end(),
        [&](const TcpSocket &a, const TcpSocket &b) { return key(a.row) < key(b.row); });
}

} // namespace winsim
