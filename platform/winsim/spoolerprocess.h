// The long-lived spooler process of a winsim root (`winsim spooler`): it sends every printer's jobs,
// one thread per printer being despooled, as the one spooler process of Windows does. It is started
// on demand and leaves after a while without work (WINSIM_SPOOLER_IDLE_MS, 3 s by default), so that
// nothing outlives the tests that used it. See spoolerservice.h for how work is handed over.
#pragma once

#include "despooler.h"
#include "spoolerstate.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace winsim {

class SpoolerProcess
{
public:
    SpoolerProcess();
    ~SpoolerProcess();
    SpoolerProcess(const SpoolerProcess &) = delete;
    SpoolerProcess &operator=(const SpoolerProcess &) = delete;

    // Serves requests until idle. readyFd, when 0 or more, is told this process's id once it holds
    // the lock, and closed. Returns 0 at once when another spooler holds the lock.
    int run(int readyFd);

private:
    struct Worker
    {
        std::thread thread;
        DespoolBounds bounds;
        bool again = false; // asked to go through the queue once more
        bool done = false;
    };

    bool acquire();
    void release();
    void serve(const std::vector<DespoolRequest> &requests);
    void work(int64_t printerId, Worker *worker);
    // Joins the workers that have finished; the number still at work.
    size_t reap();
    bool leaveIfIdle();
    void wake();
    void waitForWake(int timeoutMs);

    std::string m_root;
    int m_lockFd = -1;
    int m_wakeFd = -1;
    int64_t m_idleMs;
    DespoolBounds m_defaults;
    std::mutex m_mutex;
    std::map<int64_t, std::unique_ptr<Worker>> m_workers;
};

} // namespace winsim
