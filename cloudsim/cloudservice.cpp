#include "cloudservice.h"

#include "connectiondrop.h"
#include "jsonvalue.h"
#include "jsonwriter.h"
#include "simstate.h"

#include <cctype>
#include <cstdio>

namespace {

const char *const JsonType = "application/json;charset=UTF-8";
const char *const Printing = "正在打印";

// Counts a request of an exchange as in flight for as long as its handler runs.
class ExchangeScope
{
public:
    ExchangeScope(SimState &state, Exchange exchange)
        : m_state(state)
        , m_exchange(exchange)
        , m_plan(state.begin(exchange))
    {
    }
    ~ExchangeScope() { m_state.finish(m_exchange); }
    ExchangeScope(const ExchangeScope &) = delete;
    ExchangeScope &operator=(const ExchangeScope &) = delete;

    const FaultPlan &plan() const { return m_plan; }

private:
    SimState &m_state;
    Exchange m_exchange;
    FaultPlan m_plan;
};

bool isJsonContentType(const httplib::Request &req)
{
    std::string type = req.get_header_value("Content-Type");
    for (char &c : type)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return type.rfind("application/json", 0) == 0;
}

// Parses a request body that must be a JSON object; answers 400 itself when it is not.
bool parseObject(std::string_view body, const httplib::Request &req, httplib::Response &res, JsonValue *out)
{
    if (!isJsonContentType(req)) {
        CloudService::sendError(res, 400, 4000,
            "Content-Type must be application/json, not \"" + req.get_header_value("Content-Type") + "\"");
        return false;
    }
    bool ok = false;
    std::string why;
    *out = JsonValue::parse(body, &ok, &why);
    if (!ok || !out->isObject()) {
        CloudService::sendError(res, 400, 4000, ok ? "the body must be a JSON object" : "bad JSON: " + why);
        return false;
    }
    return true;
}

// The print body's members, checked for the types the service insists on.
bool readPrintRequest(
    const JsonValue &body, std::string *serial, const JsonValue **printData, std::string *error)
{
    const JsonValue *tv = body.member("tvNumber");
    if (!tv || !tv->isArray() || tv->items().size() != 1 || !tv->items()[0].isString()) {
        *error = "tvNumber must be an array of one serial number";
        return false;
    }
    *serial = tv->items()[0].toText();
    if (!isAcceptableSerial(*serial)) {
        *error = "tvNumber holds an unacceptable serial number";
        return false;
    }
    for (const char *flag : { "taskPersist", "async" }) {
        const JsonValue *v = body.member(flag);
        if (!v || !v->isBool()) {
            *error = std::string(flag) + " must be a boolean";
            return false;
        }
    }
    const JsonValue *type = body.member("dataType");
    if (!type || !type->isString() || type->toText() != "base64") {
        *error = "dataType must be \"base64\"";
        return false;
    }
    *printData = body.member("printData");
    if (!*printData || !(*printData)->isString()) {
        *error = "printData must be a string";
        return false;
    }
    return true;
}

const char *deviceMessage(int64_t code)
{
    switch (code) {
    case 0:
        return "success";
    case 1001:
        return "设备不存在";
    case 4002:
        return "设备未绑定";
    default:
        return "error";
    }
}

} // namespace

CloudService::CloudService(httplib::Server &server, SimState &state, uint64_t maxBody)
    : m_state(state)
    , m_maxBody(maxBody)
{
    server.Post("/v1.1/transparentPrinting",
        [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
            handlePrint(req, res, reader);
        });
    server.Get("/v1.1/printResult",
        [this](const httplib::Request &req, httplib::Response &res) { handleResult(req, res); });
    server.Post("/v1.1/getNumberStatu",
        [this](const httplib::Request &req, httplib::Response &res) { handleState(req, res); });
}

void CloudService::sendJson(httplib::Response &res, int status, const std::string &body)
{
    res.status = status;
    res.set_content(body, JsonType);
}

void CloudService::sendError(httplib::Response &res, int status, int code, const std::string &msg)
{
    JsonWriter out;
    out.beginObject().key("code").value(code).key("msg").value(msg).endObject();
    sendJson(res, status, out.text());
}

bool CloudService::suffer(SimState &state, const FaultPlan &plan, Exchange exchange,
    const httplib::Request &req, httplib::Response &res)
{
    if (!state.waitFor(plan.delayMs)) {
        sendError(res, 503, 503, "the service is stopping");
        return true;
    }
    switch (plan.fault) {
    case Fault::None:
        return false;
    case Fault::NotFound:
        sendError(res, 404, 404, "not found");
        break;
    case Fault::TooLarge:
        sendError(res, 413, 413, "request entity too large");
        break;
    case Fault::ServerError:
        sendError(res, 500, 500, "internal server error");
        break;
    case Fault::NotJson:
        res.status = 200;
        res.set_content("<html><body><h1>Service temporarily unavailable</h1></body></html>\n",
            "text/html;charset=UTF-8");
        break;
    case Fault::EmptyArray:
        sendJson(res, 200, "[]");
        break;
    case Fault::Drop:
        if (dropConnection(req.local_port, req.remote_port)) {
            std::fprintf(stderr, "cloudsim: %s: dropped the connection from port %d\n",
                exchangeName(exchange), req.remote_port);
        } else {
            std::fprintf(
                stderr, "cloudsim: %s: could not find the connection to drop\n", exchangeName(exchange));
            sendError(res, 500, 500, "could not drop the connection");
        }
        break;
    }
    return true;
}

void CloudService::handlePrint(
    const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader)
{
    ExchangeScope scope(m_state, Exchange::Print);

    // The whole body is read before anything else, so that even a refusal finds the client
    // listening rather than still sending.
    std::string body;
    const uint64_t declared = req.get_header_value<uint64_t>("Content-Length");
    if (declared <= m_maxBody)
        body.reserve(declared);
    bool tooLarge = false;
    const bool received = reader([&](const char *data, size_t n) {
        if (!tooLarge && body.size() + n > m_maxBody) {
            tooLarge = true; // only a body without a declared length gets here
            std::string().swap(body);
        }
        if (!tooLarge)
            body.append(data, n);
        return true;
    });
    if (tooLarge || (!received && res.status == 413)) {
        sendError(res, 413, 413, "request entity too large");
        return;
    }
    if (!received)
        return; // the client went away or sent a broken body; nobody is listening

    if (suffer(m_state, scope.plan(), Exchange::Print, req, res))
        return;

    JsonValue json;
    if (!parseObject(body, req, res, &json))
        return;
    std::string serial;
    const JsonValue *printData = nullptr;
    std::string error;
    if (!readPrintRequest(json, &serial, &printData, &error)) {
        sendError(res, 400, 4000, error);
        return;
    }
    // Qt never escapes Base64 text, so the decoding reads straight out of the body.
    std::string unescaped;
    std::string_view base64 = printData->rawText();
    if (printData->hasEscapes()) {
        unescaped = printData->toText();
        base64 = unescaped;
    }
    bool storageFailed = false;
    const auto jobId = m_state.acceptJob(serial, base64, &error, &storageFailed);
    if (!jobId) {
        std::fprintf(stderr, "cloudsim: print job refused: %s\n", error.c_str());
        if (storageFailed)
            sendError(res, 500, 500, "the job could not be stored: " + error);
        else
            sendError(res, 400, 4001, "printData: " + error);
        return;
    }
    JsonWriter out;
    out.beginObject().key("code").value(0).key("msg").value("success");
    out.key("data").beginObject().key("tolvixId").value(*jobId).endObject();
    out.endObject();
    sendJson(res, 200, out.text());
}

void CloudService::handleResult(const httplib::Request &req, httplib::Response &res)
{
    ExchangeScope scope(m_state, Exchange::Result);
    if (suffer(m_state, scope.plan(), Exchange::Result, req, res))
        return;

    const ResultAnswer answer = m_state.queryResult(req.get_param_value("tolvixId"));
    JsonWriter out;
    out.beginObject();
    if (!answer.knownJob) {
        out.key("code").value(4004).key("msg").value("任务不存在").key("data").value("任务不存在");
        out.endObject();
        sendJson(res, 200, out.text());
        return;
    }
    out.key("code").value(0).key("msg").value("success").key("data");
    if (!answer.final)
        out.beginObject().key(answer.serial).value(Printing).endObject();
    else if (answer.shape == ResultShape::Text)
        out.value(answer.status);
    else if (answer.shape == ResultShape::EmptyObject)
        out.beginObject().endObject();
    else
        out.beginObject().key(answer.serial).value(answer.status).endObject();
    out.endObject();
    sendJson(res, 200, out.text());
}

void CloudService::handleState(const httplib::Request &req, httplib::Response &res)
{
    ExchangeScope scope(m_state, Exchange::State);
    if (suffer(m_state, scope.plan(), Exchange::State, req, res))
        return;

    JsonValue json;
    if (!parseObject(req.body, req, res, &json))
        return;
    const JsonValue *tv = json.member("tvNumber");
    if (!tv || !tv->isString() || !isAcceptableSerial(tv->toText())) {
        sendError(res, 400, 4000, "tvNumber must be a string holding one serial number");
        return;
    }
    const DeviceAnswer answer = m_state.queryDevice(tv->toText());
    JsonWriter out;
    out.beginObject().key("code").value(answer.code).key("msg").value(deviceMessage(answer.code));
    // "17" is how the service says offline; any other value means online.
    if (answer.state == DeviceState::Online)
        out.key("data").value("1");
    else if (answer.state == DeviceState::Offline)
        out.key("data").value("17");
    out.endObject();
    sendJson(res, 200, out.text());
}
