#ifndef SIMSTATE_H
#define SIMSTATE_H

#include "jobstore.h"
#include "simconfig.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class JsonValue;

// What one request of an exchange is to suffer before (or instead of) its proper answer.
struct FaultPlan
{
    Fault fault = Fault::None;
    int64_t delayMs = 0;
};

// The answer to a result query, decided under the lock and written out after it.
struct ResultAnswer
{
    bool knownJob = false;
    std::string serial;
    std::string status;
    bool final = false;
    ResultShape shape = ResultShape::Object;
};

struct DeviceAnswer
{
    int64_t code = 0;
    DeviceState state = DeviceState::Unknown;
};

// Everything the handlers share: the configuration, the jobs and the counters. Every public call
// is safe from any handler thread; none blocks on another request except waitFor.
class SimState
{
public:
    SimState(const SimConfig &initial, const std::string &jobsFolder);

    bool open(std::string *error);

    // Counts one request of the exchange and tells what it is to suffer. Pair with finish().
    FaultPlan begin(Exchange exchange);
    void finish(Exchange exchange);

    // Waits for the given time; returns false at once when the service is stopping.
    bool waitFor(int64_t ms);
    void stop();

    // Accepts a job: decodes and keeps its bytes. Returns the job id, or nothing with *error set;
    // *storageFailed tells a fault of this service (disk) from a malformed job.
    std::optional<std::string> acceptJob(
        const std::string &serial, std::string_view base64, std::string *error, bool *storageFailed);
    ResultAnswer queryResult(const std::string &jobId);
    DeviceAnswer queryDevice(const std::string &serial);

    std::string configJson();
    // The members given replace the current ones; a fault or delay given for an exchange starts
    // its skip/count afresh.
    bool applyConfig(const JsonValue &object, std::string *error);
    // Back to the configuration the service started with; jobs and counters are forgotten.
    void reset();

    std::string jobsJson();
    // The job's description, or nothing when there is no such job.
    std::optional<std::string> jobJson(const std::string &id);
    // Where the job's bytes are kept (empty when they are not), or nothing when there is no such job.
    std::optional<std::string> jobFile(const std::string &id);
    std::string statsJson();

private:
    struct Counters
    {
        int64_t sinceSet = 0; // requests since the behaviour was last set, for skip/count
        int64_t requests = 0;
        int64_t faulted = 0;
        int64_t inFlight = 0;
        int64_t inFlightMax = 0;
    };

    Counters &counters(Exchange exchange) { return m_counters[static_cast<size_t>(exchange)]; }
    std::string finalStatusFor(const std::string &serial) const;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    const SimConfig m_initial;
    SimConfig m_config;
    JobStore m_jobs;
    std::array<Counters, 3> m_counters;
    std::map<std::string, int64_t> m_deviceQueries;
};

#endif // SIMSTATE_H
