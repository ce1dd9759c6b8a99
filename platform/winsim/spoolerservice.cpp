#include "spoolerservice.h"

#include "despooler.h"
#include "launcher.h"
#include "spoolerstate.h"
#include "store.h"
#include "timesource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace winsim {
namespace {

// A spooler that has not announced itself by then is taken as failed to start.
constexpr int64_t kStartTimeoutMs = 30000;

std::atomic<bool> g_holdsSpoolerLock { false };

class StartLock
{
public:
    explicit StartLock(const std::string &root)
    {
        makePath(root + "/locks");
        m_fd = open(spoolerStartLockPath(root).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd >= 0)
            while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) { }
    }
    ~StartLock()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    StartLock(const StartLock &) = delete;
    StartLock &operator=(const StartLock &) = delete;

private:
    int m_fd = -1;
};

void wakeSpooler(const std::string &root)
{
    // No reader yet means a spooler that has not opened its wake-up pipe: it reads the requests
    // once it has, so nothing is lost.
    const int fd = open(spoolerWakePath(root).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    const char byte = 1;
    (void)!write(fd, &byte, 1); // a full pipe already holds a wake-up
    close(fd);
}

// Starts a spooler and waits until it holds the lock; the caller holds the start lock.
uint32_t startSpooler(const std::string &root)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return 0;
    const bool started = startTool({ "spooler", "--ready-fd", "3" }, root, ready[1]);
    close(ready[1]);
    std::string announced;
    const int64_t deadline = monotonicMilliseconds() + kStartTimeoutMs;
    while (started) {
        const int64_t left = deadline - monotonicMilliseconds();
        if (left <= 0)
            break;
        pollfd p { ready[0], POLLIN, 0 };
        if (poll(&p, 1, int(left)) <= 0)
            continue;
        char chunk[32];
        const ssize_t n = read(ready[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        announced.append(chunk, size_t(n));
    }
    close(ready[0]);
    if (!started)
        return 0;
    // Without an announcement another spooler took the lock first, or the start failed.
    const uint32_t pid = uint32_t(std::strtoul(announced.c_str(), nullptr, 10));
    return pid ? pid : runningSpoolerProcess(root);
}

uint32_t ensureSpooler(const std::string &root, bool wake)
{
    StartLock lock(root);
    if (const uint32_t running = runningSpoolerProcess(root)) {
        if (wake)
            wakeSpooler(root);
        return running;
    }
    return startSpooler(root);
}

} // namespace

std::string spoolerLockPath(const std::string &root)
{
    return root + "/locks/spooler.lock";
}

std::string spoolerStartLockPath(const std::string &root)
{
    return root + "/locks/spooler.start";
}

std::string spoolerWakePath(const std::string &root)
{
    return root + "/locks/spooler.wake";
}

uint32_t runningSpoolerProcess(const std::string &root)
{
    if (g_holdsSpoolerLock)
        return uint32_t(getpid());
    makePath(root + "/locks");
    const int fd = open(spoolerLockPath(root).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    struct flock probe
    {
    };
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool asked = fcntl(fd, F_GETLK, &probe) == 0;
    close(fd);
    return (asked && probe.l_type != F_UNLCK && probe.l_pid > 0) ? uint32_t(probe.l_pid) : 0;
}

void requestDespool(int64_t printerId)
{
    try {
        const std::string root = Store::instance().root();
        const DespoolBounds bounds = despoolBoundsFromEnvironment({ -1, -1 });
        {
            Transaction tx(Transaction::Write);
            addDespoolRequest(tx, { printerId, bounds.connectRetryMs, bounds.closeWaitMs });
            tx.commit();
        }
        if (!ensureSpooler(root, true))
            std::fprintf(stderr, "winsim: the spooler process did not start\n");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "winsim: cannot ask the spooler to despool: %s\n", e.what());
    }
}

uint32_t ensureSpoolerProcess()
{
    return ensureSpooler(Store::instance().root(), false);
}

void markSpoolerProcess(bool holdsLock)
{
    g_holdsSpoolerLock = holdsLock;
}

} // namespace winsim
