#ifndef CLOUDSERVICE_H
#define CLOUDSERVICE_H

#include "simconfig.h"

#include <httplib.h>

#include <cstdint>
#include <string>

class SimState;
struct FaultPlan;

// The three exchanges of the print protocol, served on the given server from the shared state:
// POST /v1.1/transparentPrinting, GET /v1.1/printResult?tolvixId=, POST /v1.1/getNumberStatu.
class CloudService
{
public:
    CloudService(httplib::Server &server, SimState &state, uint64_t maxBody);

    // Answers in place of the proper answer when the plan says so (after its delay); returns true
    // when the request has been dealt with.
    static bool suffer(SimState &state, const FaultPlan &plan, Exchange exchange, const httplib::Request &req,
        httplib::Response &res);
    static void sendJson(httplib::Response &res, int status, const std::string &body);
    static void sendError(httplib::Response &res, int status, int code, const std::string &msg);

private:
    void handlePrint(
        const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);
    void handleResult(const httplib::Request &req, httplib::Response &res);
    void handleState(const httplib::Request &req, httplib::Response &res);

    SimState &m_state;
    const uint64_t m_maxBody;
};

#endif // CLOUDSERVICE_H
