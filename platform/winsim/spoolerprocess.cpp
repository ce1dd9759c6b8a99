#include "spoolerprocess.h"

#include "spoolerservice.h"
#include "store.h"
#include "timesource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace winsim {
namespace {

int64_t idleMilliseconds()
{
    const char *value = std::getenv("WINSIM_SPOOLER_IDLE_MS");
    if (!value || !*value)
        return 3000;
    char *end = nullptr;
    const long long ms = std::strtoll(value, &end, 10);
    return (end && *end == 0 && ms >= 0) ? ms : 3000;
}

std::vector<DespoolRequest> takeRequests()
{
    try {
        Transaction tx(Transaction::Write);
        auto requests = takeDespoolRequests(tx);
        tx.commit();
        return requests;
    } catch (const StoreError &e) {
        std::fprintf(stderr, "winsim spooler: cannot read the requests: %s\n", e.what());
        return {};
    }
}

} // namespace

SpoolerProcess::SpoolerProcess()
    : m_idleMs(idleMilliseconds())
    , m_defaults(despoolBoundsFromEnvironment())
{
}

SpoolerProcess::~SpoolerProcess()
{
    std::map<int64_t, std::unique_ptr<Worker>> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto &entry : workers)
        entry.second->thread.join();
    release();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

int SpoolerProcess::run(int readyFd)
{
    const bool acquired = acquire();
    if (readyFd >= 0) {
        if (acquired) {
            const std::string pid = std::to_string(getpid()) + "\n";
            (void)!write(readyFd, pid.data(), pid.size());
        }
        close(readyFd);
    }
    if (!acquired)
        return 0;
    int64_t idleSince = monotonicMilliseconds();
    for (;;) {
        serve(takeRequests());
        const int64_t now = monotonicMilliseconds();
        if (reap() > 0) {
            idleSince = -1;
            waitForWake(-1); // a worker that finishes wakes us too
            continue;
        }
        if (idleSince < 0)
            idleSince = now;
        if (now - idleSince >= m_idleMs) {
            if (leaveIfIdle())
                return 0;
            continue;
        }
        waitForWake(int(m_idleMs - (now - idleSince)));
    }
}

bool SpoolerProcess::acquire()
{
    try {
        m_root = Store::instance().root();
    } catch (const StoreError &e) {
        std::fprintf(stderr, "winsim spooler: %s\n", e.what());
        return false;
    }
    makePath(m_root + "/locks");
    m_lockFd = open(spoolerLockPath(m_root).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0)
        return false;
    struct flock whole
    {
    };
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fcntl(m_lockFd, F_SETLK, &whole) != 0) {
        close(m_lockFd);
        m_lockFd = -1;
        return false;
    }
    markSpoolerProcess(true);
    // Read and write: the pipe then always has a writer, so it never reports an end.
    const std::string wakePath = spoolerWakePath(m_root);
    if (mkfifo(wakePath.c_str(), 0644) != 0 && errno != EEXIST)
        std::fprintf(stderr, "winsim spooler: cannot make %s\n", wakePath.c_str());
    m_wakeFd = open(wakePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return true;
}

void SpoolerProcess::release()
{
    if (m_lockFd < 0)
        return;
    markSpoolerProcess(false);
    close(m_lockFd);
    m_lockFd = -1;
}

void SpoolerProcess::serve(const std::vector<DespoolRequest> &requests)
{
    std::vector<std::unique_ptr<Worker>> finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto &request : requests) {
            DespoolBounds bounds = m_defaults;
            if (request.connectRetryMs >= 0)
                bounds.connectRetryMs = request.connectRetryMs;
            if (request.closeWaitMs >= 0)
                bounds.closeWaitMs = request.closeWaitMs;
            auto found = m_workers.find(request.printerId);
            if (found != m_workers.end() && !found->second->done) {
                found->second->bounds = bounds;
                found->second->again = true;
                continue;
            }
            if (found != m_workers.end()) {
                finished.push_back(std::move(found->second));
                m_workers.erase(found);
            }
            auto worker = std::make_unique<Worker>();
            worker->bounds = bounds;
            Worker *raw = worker.get();
            const int64_t printerId = request.printerId;
            m_workers.emplace(printerId, std::move(worker));
            raw->thread = std::thread([this, printerId, raw] { work(printerId, raw); });
        }
    }
    for (auto &worker : finished)
        worker->thread.join();
}

void SpoolerProcess::work(int64_t printerId, Worker *worker)
{
    for (;;) {
        DespoolBounds bounds;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            bounds = worker->bounds;
            worker->again = false;
        }
        try {
            Despooler(printerId, bounds).run();
        } catch (const std::exception &e) {
            std::fprintf(
                stderr, "winsim spooler: printer %lld: %s\n", static_cast<long long>(printerId), e.what());
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!worker->again) {
            worker->done = true;
            break;
        }
    }
    wake();
}

size_t SpoolerProcess::reap()
{
    std::vector<std::unique_ptr<Worker>> finished;
    size_t busy = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->second->done) {
                finished.push_back(std::move(it->second));
                it = m_workers.erase(it);
            } else {
                ++busy;
                ++it;
            }
        }
    }
    for (auto &worker : finished)
        worker->thread.join();
    return busy;
}

bool SpoolerProcess::leaveIfIdle()
{
    makePath(m_root + "/locks");
    const int start = open(spoolerStartLockPath(m_root).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (start >= 0)
        while (flock(start, LOCK_EX) != 0 && errno == EINTR) { }
    const auto requests = takeRequests();
    if (!requests.empty())
        serve(requests);
    else
        release(); // before the start lock: whoever comes next finds the spooler lock free
    if (start >= 0)
        close(start);
    return requests.empty();
}

void SpoolerProcess::wake()
{
    if (m_wakeFd < 0)
        return;
    const char byte = 1;
    (void)!write(m_wakeFd, &byte, 1);
}

void SpoolerProcess::waitForWake(int timeoutMs)
{
    if (m_wakeFd < 0) {
        // Without the pipe the state is looked at now and then instead.
        poll(nullptr, 0, timeoutMs < 0 || timeoutMs > 100 ? 100 : timeoutMs);
        return;
    }
    pollfd p { m_wakeFd, POLLIN, 0 };
    if (poll(&p, 1, timeoutMs) > 0) {
        char drain[256];
        while (read(m_wakeFd, drain, sizeof drain) > 0) { }
    }
}

} // namespace winsim
