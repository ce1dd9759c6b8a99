#ifndef ADMINENDPOINT_H
#define ADMINENDPOINT_H

#include <httplib.h>

#include <string>

class SimState;

// The service's own control interface under /admin/, for tests and people: read and change the
// behaviour, reset it, list the jobs and fetch their bytes, read the counters. Loopback only.
class AdminEndpoint
{
public:
    AdminEndpoint(httplib::Server &server, SimState &state);

private:
    void getConfig(httplib::Response &res);
    void postConfig(const std::string &body, httplib::Response &res);
    void postReset(httplib::Response &res);
    void getJobs(httplib::Response &res);
    void getJob(const httplib::Request &req, httplib::Response &res);
    void getJobData(const httplib::Request &req, httplib::Response &res);
    void getStats(httplib::Response &res);

    SimState &m_state;
};

#endif // ADMINENDPOINT_H
