// Sends one printer's queue to its port, as the raw TCP port monitor does: one job at a time in
// submission order, each over its own connection to the port's host and port number. A job shows
// the printing bit from the connect until the receiver has closed the connection, then leaves the
// queue. Runs in a thread of the spooler process (or in a `winsim despool` run by hand), one per
// printer at a time.
#pragma once

#include "spoolerstate.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

// How long a despooler keeps trying to connect, and waits for the receiver's close, in ms.
struct DespoolBounds
{
    int64_t connectRetryMs = 60000;
    int64_t closeWaitMs = 120000;
};
// WINSIM_CONNECT_RETRY_MS and WINSIM_CLOSE_WAIT_MS, or the fallback's values where they are unset.
DespoolBounds despoolBoundsFromEnvironment(const DespoolBounds &fallback = DespoolBounds());

class Despooler
{
public:
    explicit Despooler(int64_t printerId);
    Despooler(int64_t printerId, const DespoolBounds &bounds);

    // Returns when the queue is empty, the printer is paused or gone, or a job could not be
    // delivered (it stays queued, marked with the error bit, for the next despooler).
    int run();

private:
    enum class Outcome { Sent, Cancelled, Undeliverable };

    void drain();
    Outcome deliver(int64_t jobId, const std::vector<uint8_t> &data, const PortRow &port);
    Outcome deliverTcp(int64_t jobId, const std::vector<uint8_t> &data, const PortRow &port);
    Outcome deliverLocal(const std::vector<uint8_t> &data, const PortRow &port);
    int connectOnce(const std::string &host, uint32_t port);
    bool cancelled(int64_t jobId);

    int64_t m_printerId;
    std::string m_root;
    int64_t m_connectRetryMs;
    int64_t m_closeWaitMs;
};

} // namespace winsim
