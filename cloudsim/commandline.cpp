#include "commandline.h"

#include "jsonvalue.h"

#include <cerrno>
#include <cstdlib>

namespace {

bool parseInt(const std::string &text, int64_t min, int64_t max, int64_t *out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool setFault(const std::string &name, ExchangeBehaviour *b, std::string *error)
{
    const auto fault = faultFromName(name);
    if (!fault) {
        *error = "unknown fault \"" + name + "\" (none, 404, 413, 500, non-json, empty-array, drop)";
        return false;
    }
    b->fault = *fault;
    return true;
}

bool setDevice(const std::string &spec, SimConfig *config, std::string *error)
{
    const size_t eq = spec.find('=');
    const std::string serial = spec.substr(0, eq);
    const auto state = eq == std::string::npos ? std::nullopt : deviceStateFromName(spec.substr(eq + 1));
    if (!state || *state == DeviceState::Unknown || !isAcceptableSerial(serial)) {
        *error = "--device wants SERIAL=online|offline|unbound, not \"" + spec + "\"";
        return false;
    }
    config->devices[serial].state = *state;
    return true;
}

} // namespace

bool parseByteSize(const std::string &text, uint64_t *out)
{
    if (text.empty())
        return false;
    std::string digits = text;
    unsigned shift = 0;
    switch (digits.back()) {
    case 'K':
    case 'k':
        shift = 10;
        break;
    case 'M':
    case 'm':
        shift = 20;
        break;
    case 'G':
    case 'g':
        shift = 30;
        break;
    default:
        break;
    }
    if (shift)
        digits.pop_back();
    int64_t n = 0;
    if (!parseInt(digits, 1, int64_t(1) << 40, &n))
        return false;
    *out = static_cast<uint64_t>(n) << shift;
    return true;
}

bool parseCommandLine(
    const std::vector<std::string> &args, StartupOptions *options, SimConfig *config, std::string *error)
{
    std::vector<std::string> configTexts;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &flag = args[i];
        if (flag == "--help" || flag == "-h") {
            options->help = true;
            continue;
        }
        if (flag == "--quiet") {
            options->quiet = true;
            continue;
        }
        if (flag == "--exit-with-parent") {
            options->exitWithParent = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            *error = flag.rfind("--", 0) == 0 ? flag + " needs a value" : "unexpected argument " + flag;
            return false;
        }
        const std::string &value = args[++i];
        bool ok = true;
        int64_t n = 0;
        if (flag == "--port") {
            ok = parseInt(value, 0, 65535, &n);
            options->port = static_cast<int>(n);
        } else if (flag == "--nice") {
            ok = parseInt(value, 0, 19, &n);
            options->niceness = static_cast<int>(n);
        } else if (flag == "--jobs-dir") {
            options->jobsDir = value;
            ok = !value.empty();
        } else if (flag == "--max-body") {
            ok = parseByteSize(value, &options->maxBody);
        } else if (flag == "--pending-polls") {
            ok = parseInt(value, 0, INT64_MAX, &config->pendingPolls);
        } else if (flag == "--final-status") {
            config->finalStatus = value;
        } else if (flag == "--result-shape") {
            const auto shape = resultShapeFromName(value);
            ok = shape.has_value();
            if (ok)
                config->resultShape = *shape;
        } else if (flag == "--device") {
            if (!setDevice(value, config, error))
                return false;
        } else if (flag == "--default-device") {
            const auto state = deviceStateFromName(value);
            ok = state.has_value();
            if (ok)
                config->defaultDevice = *state;
        } else if (flag == "--print-fault" || flag == "--result-fault" || flag == "--state-fault") {
            ExchangeBehaviour &b = flag[2] == 'p' ? config->print
                : flag[2] == 'r'                  ? config->result
                                                  : config->state;
            if (!setFault(value, &b, error))
                return false;
        } else if (flag == "--print-delay" || flag == "--result-delay" || flag == "--state-delay") {
            ExchangeBehaviour &b = flag[2] == 'p' ? config->print
                : flag[2] == 'r'                  ? config->result
                                                  : config->state;
            ok = parseInt(value, 0, INT64_MAX, &b.delayMs);
        } else if (flag == "--job-id-prefix") {
            config->jobIdPrefix = value;
            ok = isAcceptableJobIdPrefix(value);
        } else if (flag == "--config") {
            configTexts.push_back(value);
        } else {
            *error = "unknown flag " + flag + " (see --help)";
            return false;
        }
        if (!ok) {
            *error = "bad value for " + flag + ": \"" + value + "\"";
            return false;
        }
    }
    // Applied last, so that a --config object can refine what the single flags set up.
    for (const std::string &text : configTexts) {
        bool parsed = false;
        std::string why;
        const JsonValue object = JsonValue::parse(text, &parsed, &why);
        if (!parsed) {
            *error = "--config is not JSON: " + why;
            return false;
        }
        if (!config->apply(object, &why)) {
            *error = "--config: " + why;
            return false;
        }
    }
    return true;
}

std::string usageText()
{
    return R"(Usage: cloudsim [options]
A stand-in for the cloud print service: serves the print post, the result query and the device-state
query on 127.0.0.1 only, plus an admin interface under /admin/. The first line on stdout is
"listening 127.0.0.1:PORT".

  --port N                 TCP port on 127.0.0.1; 0 picks a free one (default 8765)
  --jobs-dir DIR           keep each job as DIR/<jobid>.bin and a line in DIR/index.tsv
                           (jobid, serial, size, time, crc32); without it only the facts are kept
  --max-body BYTES         larger request bodies get 413 (default 1G; K, M, G suffixes)
  --pending-polls N        result queries answered "正在打印" before the final status (default 2)
  --final-status TEXT      final status of jobs on online devices (default "打印成功")
  --result-shape SHAPE     final result answer: object (default; "data" {serial: status}),
                           text ("data" is the status text), empty-object ("data" {})
  --device SERIAL=STATE    register a device: online, offline or unbound (repeatable)
  --default-device STATE   state of serials not registered: unknown (default), online, offline,
                           unbound
  --print-fault MODE       fault of the print post: none, 404, 413, 500, non-json, empty-array
                           (answers "[]"), drop (closes the connection without answering)
  --result-fault MODE      the same for the result query
  --state-fault MODE       the same for the device-state query
  --print-delay MS         answer the print post this many milliseconds late
  --result-delay MS        the same for the result query
  --state-delay MS         the same for the device-state query
  --job-id-prefix TEXT     job ids start with TEXT (default "J")
  --config JSON            apply a configuration object as POST /admin/config does (after the
                           other flags; repeatable)
  --quiet                  no request log on stderr
  --exit-with-parent       stop when the process that started this one ends, however it ends
  --nice N                 run at niceness N (0-19): a benchmark on the same cores as the program
                           keeps the stand-in from taking their time, as a remote service would not
  --help                   this text

Admin (loopback only): GET/POST /admin/config, POST /admin/reset, GET /admin/jobs,
GET /admin/jobs/ID, GET /admin/jobs/ID/data, GET /admin/stats.
)";
}
