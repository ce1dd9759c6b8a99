#include "adminendpoint.h"

#include "cloudservice.h"
#include "jsonvalue.h"
#include "simstate.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {

bool fromLoopback(const httplib::Request &req)
{
    return req.remote_addr == "127.0.0.1" || req.remote_addr == "::1"
        || req.remote_addr.rfind("::ffff:127.", 0) == 0;
}

// The body of an admin POST. A POST without any body at all (no length, not chunked), as
// `curl -X POST` sends it, counts as empty instead of being refused.
std::string readBody(const httplib::Request &req, const httplib::ContentReader &reader)
{
    std::string body;
    if (req.has_header("Content-Length") || req.has_header("Transfer-Encoding")) {
        reader([&body](const char *data, size_t n) {
            body.append(data, n);
            return true;
        });
    }
    return body;
}

bool refuseRemote(const httplib::Request &req, httplib::Response &res)
{
    if (fromLoopback(req))
        return false;
    CloudService::sendError(res, 403, 403, "the admin interface is for loopback clients only");
    return true;
}

} // namespace

AdminEndpoint::AdminEndpoint(httplib::Server &server, SimState &state)
    : m_state(state)
{
    // Every handler serves loopback clients only; the server binds 127.0.0.1, but the admin
    // interface must stay closed should that ever change.
    auto guarded = [](auto handler) {
        return [handler](const httplib::Request &req, httplib::Response &res) {
            if (!refuseRemote(req, res))
                handler(req, res);
        };
    };
    server.Get("/admin/config",
        guarded([this](const httplib::Request &, httplib::Response &res) { getConfig(res); }));
    server.Post("/admin/config",
        [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
            const std::string body = readBody(req, reader);
            if (!refuseRemote(req, res))
                postConfig(body, res);
        });
    server.Post("/admin/reset",
        [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
            readBody(req, reader);
            if (!refuseRemote(req, res))
                postReset(res);
        });
    server.Get(
        "/admin/jobs", guarded([this](const httplib::Request &, httplib::Response &res) { getJobs(res); }));
    server.Get("/admin/jobs/([^/]+)",
        guarded([this](const httplib::Request &req, httplib::Response &res) { getJob(req, res); }));
    server.Get("/admin/jobs/([^/]+)/data",
        guarded([this](const httplib::Request &req, httplib::Response &res) { getJobData(req, res); }));
    server.Get(
        "/admin/stats", guarded([this](const httplib::Request &, httplib::Response &res) { getStats(res); }));
}

void AdminEndpoint::getConfig(httplib::Response &res)
{
    CloudService::sendJson(res, 200, m_state.configJson());
}

void AdminEndpoint::postConfig(const std::string &body, httplib::Response &res)
{
    bool ok = false;
    std::string error;
    const JsonValue object = JsonValue::parse(body, &ok, &error);
    if (!ok) {
        CloudService::sendError(res, 400, 400, "bad JSON: " + error);
        return;
    }
    if (!m_state.applyConfig(object, &error)) {
        CloudService::sendError(res, 400, 400, error);
        return;
    }
    CloudService::sendJson(res, 200, m_state.configJson());
}

void AdminEndpoint::postReset(httplib::Response &res)
{
    m_state.reset();
    CloudService::sendJson(res, 200, m_state.configJson());
}

void AdminEndpoint::getJobs(httplib::Response &res)
{
    CloudService::sendJson(res, 200, m_state.jobsJson());
}

void AdminEndpoint::getJob(const httplib::Request &req, httplib::Response &res)
{
    const auto job = m_state.jobJson(req.matches[1]);
    if (!job) {
        CloudService::sendError(res, 404, 404, "no such job");
        return;
    }
    CloudService::sendJson(res, 200, *job);
}

void AdminEndpoint::getJobData(const httplib::Request &req, httplib::Response &res)
{
    const auto file = m_state.jobFile(req.matches[1]);
    if (!file) {
        CloudService::sendError(res, 404, 404, "no such job");
        return;
    }
    if (file->empty()) {
        CloudService::sendError(res, 404, 404, "the job's bytes are not kept (start with --jobs-dir)");
        return;
    }
    std::shared_ptr<std::FILE> in(std::fopen(file->c_str(), "rb"), [](std::FILE *f) {
        if (f)
            std::fclose(f);
    });
    struct stat st;
    if (!in || ::fstat(fileno(in.get()), &st) != 0) {
        CloudService::sendError(res, 404, 404, "the job's file is gone");
        return;
    }
    // Streamed, since a job can be larger than anyone wants to copy into one answer.
    res.set_content_provider(static_cast<size_t>(st.st_size), "application/octet-stream",
        [in](size_t offset, size_t length, httplib::DataSink &sink) {
            char buf[64 * 1024];
            if (std::fseek(in.get(), static_cast<long>(offset), SEEK_SET) != 0)
                return false;
            const size_t n = std::fread(buf, 1, std::min(length, sizeof buf), in.get());
            return n > 0 && sink.write(buf, n);
        });
}

void AdminEndpoint::getStats(httplib::Response &res)
{
    CloudService::sendJson(res, 200, m_state.statsJson());
}
