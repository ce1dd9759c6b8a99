#include "despooler.h"

#include "launcher.h"
#include "store.h"
#include "textcodec.h"
#include "timesource.h"
#include "win32.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace winsim {
namespace {

constexpr int kPollMs = 100; // how often a running job looks for a purge

int64_t environmentMs(const char *name, int64_t fallback)
{
    const char *value = std::getenv(name);
    if (!value || !*value)
        return fallback;
    char *end = nullptr;
    const long long ms = std::strtoll(value, &end, 10);
    return (end && *end == 0 && ms >= 0) ? ms : fallback;
}

// An exclusive file lock held for the life of the object.
class LockFile
{
public:
    LockFile(const std::string &path, bool wait)
    {
        m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0)
            return;
        int rc;
        while ((rc = flock(m_fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
        if (rc != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~LockFile() { release(); }
    void release()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    LockFile(const LockFile &) = delete;
    LockFile &operator=(const LockFile &) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace

DespoolBounds despoolBoundsFromEnvironment(const DespoolBounds &fallback)
{
    return { environmentMs("WINSIM_CONNECT_RETRY_MS", fallback.connectRetryMs),
        environmentMs("WINSIM_CLOSE_WAIT_MS", fallback.closeWaitMs) };
}

Despooler::Despooler(int64_t printerId)
    : Despooler(printerId, despoolBoundsFromEnvironment())
{
}

Despooler::Despooler(int64_t printerId, const DespoolBounds &bounds)
    : m_printerId(printerId)
    , m_connectRetryMs(bounds.connectRetryMs)
    , m_closeWaitMs(bounds.closeWaitMs)
{
}

int Despooler::run()
{
    m_root = Store::instance().root();
    makePath(m_root + "/locks");
    {
        // Whoever already waits for the lock will see every job committed before we started, so
        // a second waiter has nothing to add.
        LockFile next(despoolLockPath(m_root, m_printerId, "wait"), false);
        if (!next.held())
            return 0;
        LockFile sending(despoolLockPath(m_root, m_printerId, "lock"), true);
        if (!sending.held()) {
            std::fprintf(
                stderr, "winsim despool: cannot lock printer %lld\n", static_cast<long long>(m_printerId));
            return 1;
        }
        next.release(); // the next starter may queue up behind us now
        drain();
    }
    return 0;
}

void Despooler::drain()
{
    {
        Transaction tx(Transaction::Write);
        recoverInterruptedJobs(tx, m_printerId);
        tx.commit();
    }
    for (;;) {
        std::optional<ClaimedJob> job;
        std::optional<PortRow> port;
        {
            Transaction tx(Transaction::Write);
            const auto printer = printerById(tx, m_printerId);
            if (!printer)
                return;
            if (!printer->paused)
                job = claimNextJob(tx, m_printerId);
            if (!job) {
                if (printer->pendingDelete && !printer->paused)
                    deletePrinter(tx, m_printerId);
                else
                    countDespoolPass(tx, m_printerId);
                tx.commit();
                return;
            }
            port = portByName(tx, printer->port);
            if (!port) {
                failJob(tx, job->id);
                countDespoolPass(tx, m_printerId);
                tx.commit();
                return;
            }
            tx.commit();
        }
        const Outcome outcome = deliver(job->id, job->data, *port);
        Transaction tx(Transaction::Write);
        if (outcome == Outcome::Undeliverable) {
            if (jobStatus(tx, job->id))
                failJob(tx, job->id);
            countDespoolPass(tx, m_printerId);
            tx.commit();
            return;
        }
        finishJob(tx, job->id);
        tx.commit();
    }
}

Despooler::Outcome Despooler::deliver(int64_t jobId, const std::vector<uint8_t> &data, const PortRow &port)
{
    if (port.monitor == "Standard TCP/IP Port")
        return deliverTcp(jobId, data, port);
    return deliverLocal(data, port);
}

Despooler::Outcome Despooler::deliverLocal(const std::vector<uint8_t> &data, const PortRow &port)
{
    // A local port has no device here; its output is kept in a file of the root, one per port.
    std::string name;
    for (const char c : port.name)
        name += (c == ':' || c == '/' || c == '\\') ? '_' : c;
    makePath(m_root + "/ports");
    FILE *out = std::fopen((m_root + "/ports/" + name + ".prn").c_str(), "ab");
    if (!out)
        return Outcome::Undeliverable;
    const bool written = std::fwrite(data.data(), 1, data.size(), out) == data.size();
    return (std::fclose(out) == 0 && written) ? Outcome::Sent : Outcome::Undeliverable;
}

Despooler::Outcome Despooler::deliverTcp(int64_t jobId, const std::vector<uint8_t> &data, const PortRow &port)
{
    PORT_DATA_1 settings {};
    std::string host;
    if (port.record.size() != sizeof(settings))
        return Outcome::Undeliverable;
    std::memcpy(&settings, port.record.data(), sizeof(settings));
    if (!fixedFieldText(settings.sztHostAddress, MAX_NETWORKNAME_LEN, &host)
        || settings.dwProtocol != PROTOCOL_RAWTCP_TYPE) {
        std::fprintf(stderr, "winsim despool: port %s is not a raw TCP port\n", port.name.c_str());
        return Outcome::Undeliverable;
    }

    // The receiver may not be listening yet: keep trying for a while, as the port monitor does.
    const int64_t connectDeadline = monotonicMilliseconds() + m_connectRetryMs;
    int fd = -1;
    while ((fd = connectOnce(host, settings.dwPortNumber)) < 0) {
        if (cancelled(jobId))
            return Outcome::Cancelled;
        if (monotonicMilliseconds() >= connectDeadline) {
            std::fprintf(stderr, "winsim despool: nobody listens on %s:%u\n", host.c_str(),
                unsigned(settings.dwPortNumber));
            return Outcome::Undeliverable;
        }
        poll(nullptr, 0, kPollMs);
    }

    size_t sent = 0;
    int64_t lastProgress = monotonicMilliseconds();
    while (sent < data.size()) {
        pollfd p { fd, POLLOUT, 0 };
        if (poll(&p, 1, kPollMs) > 0) {
            const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += size_t(n);
                lastProgress = monotonicMilliseconds();
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                std::fprintf(stderr, "winsim despool: the receiver dropped the connection: %s\n",
                    std::strerror(errno));
                close(fd);
                return Outcome::Undeliverable;
            }
        }
        if (cancelled(jobId)) {
            close(fd);
            return Outcome::Cancelled;
        }
        if (monotonicMilliseconds() - lastProgress > m_closeWaitMs) {
            close(fd);
            return Outcome::Undeliverable;
        }
    }

    // The job is out; it keeps its printing bit until the receiver closes its end (bounded). A
    // receiver that resets the connection instead did not take the job: it stays in the queue.
    shutdown(fd, SHUT_WR);
    const int64_t closeDeadline = monotonicMilliseconds() + m_closeWaitMs;
    while (monotonicMilliseconds() < closeDeadline) {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, kPollMs) > 0) {
            char discard[4096];
            const ssize_t n = recv(fd, discard, sizeof discard, 0);
            if (n == 0)
                break;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                std::fprintf(
                    stderr, "winsim despool: the receiver reset the connection: %s\n", std::strerror(errno));
                close(fd);
                return Outcome::Undeliverable;
            }
        }
        if (cancelled(jobId))
            break;
    }
    close(fd);
    return Outcome::Sent;
}

int Despooler::connectOnce(const std::string &host, uint32_t port)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    int result = -1;
    for (addrinfo *a = found; a && result < 0; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            result = fd;
            break;
        }
        if (errno == EINPROGRESS) {
            pollfd p { fd, POLLOUT, 0 };
            int error = 0;
            socklen_t length = sizeof error;
            if (poll(&p, 1, 2000) > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0
                && error == 0) {
                result = fd;
                break;
            }
        }
        close(fd);
    }
    freeaddrinfo(found);
    return result;
}

bool Despooler::cancelled(int64_t jobId)
{
    Transaction tx(Transaction::Read);
    const auto status = jobStatus(tx, jobId);
    return !status || (*status & kJobDeleting) != 0;
}

} // namespace winsim
