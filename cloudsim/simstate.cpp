#include "simstate.h"

#include "jsonvalue.h"
#include "jsonwriter.h"

#include <chrono>
#include <cstdio>

namespace {

constexpr Exchange AllExchanges[] = { Exchange::Print, Exchange::Result, Exchange::State };

std::string hex8(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", v);
    return buf;
}

void writeJob(const JobRecord &job, JsonWriter &out)
{
    out.beginObject();
    out.key("jobId").value(job.id);
    out.key("serial").value(job.serial);
    out.key("size").value(job.size);
    out.key("crc32").value(hex8(job.crc32));
    out.key("time").value(job.time);
    out.key("file").value(job.file);
    out.key("pendingPolls").value(job.pendingPolls);
    out.key("queries").value(job.queries);
    out.key("finalStatus");
    if (job.finalStatus)
        out.value(*job.finalStatus);
    else
        out.null();
    out.endObject();
}

} // namespace

SimState::SimState(const SimConfig &initial, const std::string &jobsFolder)
    : m_initial(initial)
    , m_config(initial)
    , m_jobs(jobsFolder)
{
}

bool SimState::open(std::string *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs.open(error);
}

FaultPlan SimState::begin(Exchange exchange)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const ExchangeBehaviour &b = m_config.behaviour(exchange);
    Counters &c = counters(exchange);
    const int64_t n = c.sinceSet++;
    ++c.requests;
    c.inFlightMax = std::max(c.inFlightMax, ++c.inFlight);
    FaultPlan plan;
    plan.delayMs = b.delayMs;
    if (b.fault != Fault::None && n >= b.skip && (b.count < 0 || n < b.skip + b.count)) {
        plan.fault = b.fault;
        ++c.faulted;
    }
    return plan;
}

void SimState::finish(Exchange exchange)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    --counters(exchange).inFlight;
}

bool SimState::waitFor(int64_t ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (ms <= 0)
        return !m_stopping;
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping; });
}

void SimState::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
}

std::optional<std::string> SimState::acceptJob(
    const std::string &serial, std::string_view base64, std::string *error, bool *storageFailed)
{
    JobRecord job;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        job.id = m_jobs.newJobId(m_config.jobIdPrefix);
        job.pendingPolls = m_config.pendingPolls;
    }
    job.serial = serial;
    job.time = localTimestamp();
    // Decoding a large job takes a while; the other exchanges go on meanwhile.
    if (!m_jobs.storeBytes(&job, base64, error, storageFailed))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string id = job.id;
    m_jobs.add(std::move(job));
    return id;
}

std::string SimState::finalStatusFor(const std::string &serial) const
{
    const Device device = m_config.device(serial);
    switch (device.state) {
    case DeviceState::Online:
        return device.finalStatus.empty() ? m_config.finalStatus : device.finalStatus;
    case DeviceState::Offline:
        return "离线";
    case DeviceState::Unbound:
        return "设备未绑定";
    case DeviceState::Unknown:
        break;
    }
    return "设备不存在";
}

ResultAnswer SimState::queryResult(const std::string &jobId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ResultAnswer answer;
    answer.shape = m_config.resultShape;
    JobRecord *job = m_jobs.find(jobId);
    if (!job)
        return answer;
    answer.knownJob = true;
    answer.serial = job->serial;
    ++job->queries;
    // The device's state counts when the job ends, so a device that goes offline while a job
    // is still printing fails that job.
    if (!job->finalStatus && job->queries > job->pendingPolls)
        job->finalStatus = finalStatusFor(job->serial);
    answer.final = job->finalStatus.has_value();
    answer.status = answer.final ? *job->finalStatus : "正在打印";
    return answer;
}

DeviceAnswer SimState::queryDevice(const std::string &serial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_deviceQueries[serial];
    const Device device = m_config.device(serial);
    DeviceAnswer answer;
    answer.state = device.state;
    if (device.code)
        answer.code = *device.code;
    else if (device.state == DeviceState::Unknown)
        answer.code = 1001;
    else if (device.state == DeviceState::Unbound)
        answer.code = 4002;
    return answer;
}

std::string SimState::configJson()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    JsonWriter out;
    m_config.write(out);
    return out.text();
}

bool SimState::applyConfig(const JsonValue &object, std::string *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_config.apply(object, error))
        return false;
    for (const Exchange e : AllExchanges) {
        if (object.member(exchangeName(e)))
            counters(e).sinceSet = 0;
    }
    return true;
}

void SimState::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config = m_initial;
    m_jobs.clear();
    for (const Exchange e : AllExchanges) {
        // Requests still being served finish after the reset and must not drive this negative.
        const int64_t inFlight = counters(e).inFlight;
        counters(e) = Counters();
        counters(e).inFlight = inFlight;
    }
    m_deviceQueries.clear();
}

std::string SimState::jobsJson()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    JsonWriter out;
    out.beginObject().key("jobs").beginArray();
    for (const auto &id : m_jobs.order())
        writeJob(*m_jobs.find(id), out);
    out.endArray().endObject();
    return out.text();
}

std::optional<std::string> SimState::jobJson(const std::string &id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const JobRecord *job = m_jobs.find(id);
    if (!job)
        return std::nullopt;
    JsonWriter out;
    writeJob(*job, out);
    return out.text();
}

std::optional<std::string> SimState::jobFile(const std::string &id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const JobRecord *job = m_jobs.find(id);
    if (!job)
        return std::nullopt;
    return job->file;
}

std::string SimState::statsJson()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    JsonWriter out;
    out.beginObject();
    for (const Exchange e : AllExchanges) {
        const Counters &c = counters(e);
        out.key(exchangeName(e)).beginObject();
        out.key("requests").value(c.requests);
        out.key("faulted").value(c.faulted);
        out.key("inFlight").value(c.inFlight);
        out.key("inFlightMax").value(c.inFlightMax);
        out.endObject();
    }
    out.key("jobs").value(static_cast<uint64_t>(m_jobs.order().size()));
    out.key("deviceQueries").beginObject();
    for (const auto &[serial, n] : m_deviceQueries)
        out.key(serial).value(n);
    out.endObject();
    out.endObject();
    return out.text();
}
