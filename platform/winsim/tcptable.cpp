#include "tcptable.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
    case 0x01: return MIB_TCP_STATE_ESTAB;
    case 0x02: return MIB_TCP_STATE_SYN_SENT;
    case 0x03: return MIB_TCP_STATE_SYN_RCVD;
    case 0x04: return MIB_TCP_STATE_FIN_WAIT1;
    case 0x05: return MIB_TCP_STATE_FIN_WAIT2;
    case 0x06: return MIB_TCP_STATE_TIME_WAIT;
    case 0x07: return MIB_TCP_STATE_CLOSED;
    case 0x08: return MIB_TCP_STATE_CLOSE_WAIT;
    case 0x09: return MIB_TCP_STATE_LAST_ACK;
    case 0x0A: return MIB_TCP_STATE_LISTEN;
    case 0x0B: return MIB_TCP_STATE_CLOSING;
    case 0x0C: return MIB_TCP_STATE_SYN_RCVD; // a connection request not yet accepted
    default: return MIB_TCP_STATE_CLOSED;
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

// The sockets still looking for their owner, by inode.
class OwnerSearch
{
public:
    OwnerSearch(std::vector<std::pair<uint64_t, size_t>> wanted, std::vector<MIB_TCPROW_OWNER_PID> *rows)
        : m_wanted(std::move(wanted))
        , m_rows(rows)
        , m_left(m_wanted.size())
    {
        std::sort(m_wanted.begin(), m_wanted.end());
    }

    bool done() const { return m_left == 0; }

    void found(uint64_t inode, DWORD pid)
    {
        auto it = std::lower_bound(m_wanted.begin(), m_wanted.end(), std::make_pair(inode, size_t(0)));
        // One socket may appear in several rows (never for IPv4, but cheap to allow) and in several
        // processes (inherited): the first process found keeps it.
        for (; it != m_wanted.end() && it->first == inode; ++it) {
            MIB_TCPROW_OWNER_PID &row = (*m_rows)[it->second];
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
        char entries[16384];
        for (;;) {
            const long n = syscall(SYS_getdents64, dir, entries, sizeof entries);
            if (n <= 0)
                break;
            for (long at = 0; at < n;) {
                const auto *entry = reinterpret_cast<const dirent64 *>(entries + at);
                at += entry->d_reclen;
                if (entry->d_name[0] == '.')
                    continue;
                char link[64];
                const ssize_t length = readlinkat(dir, entry->d_name, link, sizeof link);
                // "socket:[12345]"
                if (length > 9 && std::memcmp(link, "socket:[", 8) == 0) {
                    const char *p = link + 8;
                    found(decimalNumber(p, link + length), pid);
                }
            }
        }
        close(dir);
    }

private:
    std::vector<std::pair<uint64_t, size_t>> m_wanted;
    std::vector<MIB_TCPROW_OWNER_PID> *m_rows;
    size_t m_left;
};

void findOwners(OwnerSearch *search)
{
    if (search->done())
        return;
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return;
    char entries[16384];
    while (!search->done()) {
        const long n = syscall(SYS_getdents64, proc, entries, sizeof entries);
        if (n <= 0)
            break;
        for (long at = 0; at < n && !search->done();) {
            const auto *entry = reinterpret_cast<const dirent64 *>(entries + at);
            at += entry->d_reclen;
            const char *p = entry->d_name;
            const char *end = p + std::strlen(p);
            const uint64_t pid = decimalNumber(p, end);
            if (p == end && pid > 0)
                search->scanProcess(proc, DWORD(pid));
        }
    }
    close(proc);
}

} // namespace

bool readTcpTable(TcpRows which, std::vector<MIB_TCPROW_OWNER_PID> *rows)
{
    std::string text;
    if (!readWhole("/proc/net/tcp", &text))
        return false;
    rows->clear();
    std::vector<std::pair<uint64_t, size_t>> wanted;
    const char *p = text.data();
    const char *const end = p + text.size();
    while (p < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        MIB_TCPROW_OWNER_PID row {};
        uint32_t state = 0;
        uint64_t inode = 0;
        if (parseLine(p, lineEnd, &row, &state, &inode)) {
            const bool listening = state == kLinuxListen;
            if (which == TcpRows::All || listening == (which == TcpRows::Listeners)) {
                if (inode)
                    wanted.emplace_back(inode, rows->size());
                rows->push_back(row);
            }
        }
        p = lineEnd + 1;
    }
    OwnerSearch search(std::move(wanted), rows);
    findOwners(&search);
    return true;
}

void sortTcpRows(std::vector<MIB_TCPROW_OWNER_PID> *rows)
{
    // The order of the TCP connection table's index in the standard MIB, which Windows follows.
    const auto key = [](const MIB_TCPROW_OWNER_PID &r) {
        return std::make_tuple(ntohl(r.dwLocalAddr), ntohs(uint16_t(r.dwLocalPort)), ntohl(r.dwRemoteAddr),
            ntohs(uint16_t(r.dwRemotePort)));
    };
    std::stable_sort(rows->begin(), rows->end(),
        [&](const MIB_TCPROW_OWNER_PID &a, const MIB_TCPROW_OWNER_PID &b) { return key(a) < key(b); });
}

} // namespace winsim
