// The winsim command-line tool: prints files as an application would, lists and changes the state
// of the stand-in machine, and runs the spooler process (or one printer's despooler).
#include "despooler.h"
#include "servicestate.h"
#include "spoolerprocess.h"
#include "spoolerstate.h"
#include "store.h"
#include "textcodec.h"
#include "timesource.h"
#include "win32.h"
#include "winsimcontrol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace winsim;

namespace {

using Arguments = std::vector<std::string>;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char *const kUsageText
    = "usage: winsim COMMAND [ARGUMENTS]\n"
      "  print PRINTER [FILE|-] [--document NAME] [--submitted YYYY-MM-DDTHH:MM:SSZ]\n"
      "                                  queue a file (or standard input) as a print job\n"
      "  printers                        name, port, driver, state, jobs\n"
      "  ports                           name, monitor, host, port number\n"
      "  drivers                         name, environment, version\n"
      "  jobs PRINTER                    id, state, size, submitted (UTC), document\n"
      "  data PRINTER                    value name, type, bytes in hex\n"
      "  services                        name, state, services it depends on\n"
      "  pause PRINTER | resume PRINTER\n"
      "  add-port NAME HOST NUMBER       a Standard TCP/IP port (raw)\n"
      "  add-printer NAME PORT DRIVER\n"
      "  install-driver NAME ENVIRONMENT VERSION\n"
      "  add-service NAME [--display TEXT] [--depends-on NAME]... [--stop-ms N] [--wait-hint-ms N]\n"
      "              [--stopped] [--refuses-stop]\n"
      "  wait PRINTER [--timeout-ms N]   until the printer's queue is empty\n"
      "  reset                           back to a freshly installed machine\n"
      "  root                            the folder that holds the state\n"
      "  despool PRINTER | --id N        send a printer's queue once, outside the spooler process\n"
      "  spooler [--ready-fd N]          the spooler process (started on demand; leaves when idle)\n"
      "Output: one record per line, fields separated by tabs.\n";

int fail(const std::string &message, int code = kFailed)
{
    std::fprintf(stderr, "winsim: %s\n", message.c_str());
    return code;
}

int usage(const std::string &message)
{
    std::fprintf(stderr, "winsim: %s\n%s", message.c_str(), kUsageText);
    return kUsage;
}

bool parseNumber(const std::string &text, int64_t *number)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (!end || *end)
        return false;
    *number = value;
    return true;
}

// Splits "--name value" options (and bare flags) from the positional arguments.
struct Options
{
    Arguments positional;
    std::multimap<std::string, std::string> values;
    std::vector<std::string> flags;

    bool has(const std::string &flag) const
    {
        for (const auto &f : flags)
            if (f == flag)
                return true;
        return false;
    }
    std::optional<std::string> value(const std::string &name) const
    {
        const auto it = values.find(name);
        return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
};

bool parseOptions(const Arguments &args, const std::vector<std::string> &valued,
    const std::vector<std::string> &bare, Options *out, std::string *error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            bool known = false;
            for (const auto &name : valued) {
                if (arg == name) {
                    if (i + 1 >= args.size()) {
                        *error = arg + " needs a value";
                        return false;
                    }
                    out->values.emplace(name, args[++i]);
                    known = true;
                }
            }
            for (const auto &name : bare) {
                if (arg == name) {
                    out->flags.push_back(name);
                    known = true;
                }
            }
            if (!known) {
                *error = "unknown option " + arg;
                return false;
            }
        } else {
            out->positional.push_back(arg);
        }
    }
    return true;
}

std::string isoTime(int64_t ms)
{
    const time_t seconds = time_t(ms / 1000);
    tm parts {};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool parseIsoTime(const std::string &text, int64_t *ms)
{
    tm parts {};
    const char *end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (!end || *end)
        return false;
    *ms = int64_t(timegm(&parts)) * 1000;
    return true;
}

bool readAll(FILE *in, std::vector<uint8_t> *data)
{
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        data->insert(data->end(), chunk, chunk + n);
    return !std::ferror(in);
}

std::string hex(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::string jobState(uint32_t status)
{
    if (status & kJobDeleting)
        return "deleting";
    if (status & kJobPrinting)
        return "printing";
    if (status & kJobError)
        return "error";
    return "queued";
}

int print(const Arguments &args)
{
    Options options;
    std::string error;
    if (!parseOptions(args, { "--document", "--submitted" }, {}, &options, &error))
        return usage(error);
    if (options.positional.empty() || options.positional.size() > 2)
        return usage("print needs a printer and at most one file");
    const std::string printer = options.positional[0];
    const std::string file = options.positional.size() == 2 ? options.positional[1] : "-";
    std::optional<std::string> document = options.value("--document");
    int64_t submitted = -1;
    if (const auto when = options.value("--submitted"); when && !parseIsoTime(*when, &submitted))
        return usage("--submitted wants YYYY-MM-DDTHH:MM:SSZ, not \"" + *when + "\"");

    std::vector<uint8_t> data;
    if (file == "-") {
        if (!readAll(stdin, &data))
            return fail("cannot read standard input");
    } else {
        FILE *in = std::fopen(file.c_str(), "rb");
        if (!in)
            return fail("cannot read \"" + file + "\": " + std::strerror(errno));
        const bool ok = readAll(in, &data);
        std::fclose(in);
        if (!ok)
            return fail("cannot read \"" + file + "\"");
        if (!document)
            document = file.substr(file.rfind('/') + 1);
    }
    const uint32_t job = submitJob(printer, document, data, submitted, &error);
    if (!job)
        return fail(error);
    std::printf("job\t%u\n", job);
    return 0;
}

int listPrinters()
{
    Transaction tx(Transaction::Read);
    for (const auto &p : printers(tx)) {
        const char *state = p.pendingDelete ? "deleting" : p.paused ? "paused" : "ready";
        std::printf("%s\t%s\t%s\t%s\t%lld\n", p.name.c_str(), p.port.c_str(), p.driver.c_str(), state,
            static_cast<long long>(jobCount(tx, p.id)));
    }
    return 0;
}

int listPorts()
{
    Transaction tx(Transaction::Read);
    for (const auto &port : ports(tx)) {
        std::string host;
        std::string number;
        PORT_DATA_1 settings;
        if (port.record.size() == sizeof settings) {
            std::memcpy(&settings, port.record.data(), sizeof settings);
            fixedFieldText(settings.sztHostAddress, MAX_NETWORKNAME_LEN, &host);
            number = std::to_string(settings.dwPortNumber);
        }
        std::printf(
            "%s\t%s\t%s\t%s\n", port.name.c_str(), port.monitor.c_str(), host.c_str(), number.c_str());
    }
    return 0;
}

int listDrivers()
{
    Transaction tx(Transaction::Read);
    for (const auto &d : drivers(tx, nullptr))
        std::printf("%s\t%s\t%s\n", d.name.c_str(), d.environment.c_str(), d.version.c_str());
    return 0;
}

int listServices()
{
    Transaction tx(Transaction::Read);
    for (const auto &s : services(tx, monotonicMilliseconds())) {
        const char *state = s.state == SERVICE_STOPPED ? "stopped"
            : s.state == SERVICE_STOP_PENDING          ? "stop-pending"
                                                       : "running";
        std::string dependencies;
        for (const auto &d : serviceDependencies(tx, s.name))
            dependencies += (dependencies.empty() ? "" : ",") + d;
        std::printf("%s\t%s\t%s\n", s.name.c_str(), state, dependencies.c_str());
    }
    return 0;
}

int listForPrinter(const Arguments &args, const std::function<void(Transaction &, const PrinterRow &)> &list)
{
    if (args.size() != 1)
        return usage("name one printer");
    Transaction tx(Transaction::Read);
    const auto printer = printerByName(tx, args[0]);
    if (!printer)
        return fail("no printer named \"" + args[0] + "\"");
    list(tx, *printer);
    return 0;
}

int listJobs(const Arguments &args)
{
    return listForPrinter(args, [](Transaction &tx, const PrinterRow &printer) {
        for (const auto &job : jobs(tx, printer.id))
            std::printf("%lld\t%s\t%lld\t%s\t%s\n", static_cast<long long>(job.id),
                jobState(job.status).c_str(), static_cast<long long>(job.size),
                isoTime(job.submittedMs).c_str(), job.document ? job.document->c_str() : "");
    });
}

int listData(const Arguments &args)
{
    return listForPrinter(args, [](Transaction &tx, const PrinterRow &printer) {
        for (const auto &value : dataValues(tx, printer.id))
            std::printf("%s\t%u\t%s\n", value.name.c_str(), value.type, hex(value.data).c_str());
    });
}

int pauseOrResume(const Arguments &args, bool pause)
{
    if (args.size() != 1)
        return usage("name one printer");
    std::string error;
    if (!(pause ? pausePrinter(args[0], &error) : resumePrinter(args[0], &error)))
        return fail(error);
    return 0;
}

// Adds the port through the monitor's configuration channel, as a port library would.
int addTcpPort(const Arguments &args)
{
    int64_t number = 0;
    if (args.size() != 3 || !parseNumber(args[2], &number))
        return usage("add-port needs a name, a host and a port number");
    const std::u16string name = toUtf16(args[0]);
    const std::u16string host = toUtf16(args[1]);
    if (name.size() >= MAX_PORTNAME_LEN || host.size() >= MAX_NETWORKNAME_LEN)
        return fail("the port name or the host is too long");
    PORT_DATA_1 data {};
    std::memcpy(data.sztPortName, name.c_str(), name.size() * 2);
    std::memcpy(data.sztHostAddress, host.c_str(), host.size() * 2);
    data.dwVersion = 1;
    data.dwProtocol = PROTOCOL_RAWTCP_TYPE;
    data.cbSize = sizeof data;
    data.dwPortNumber = DWORD(number);
    std::u16string monitor = u",XcvMonitor Standard TCP/IP Port";
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, SERVER_ACCESS_ADMINISTER };
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(monitor.data(), &xcv, &defaults))
        return fail("cannot open the Standard TCP/IP monitor (error " + std::to_string(GetLastError()) + ")");
    DWORD needed = 0;
    DWORD status = 0;
    const BOOL ok = XcvDataW(
        xcv, u"AddPort", reinterpret_cast<PBYTE>(&data), sizeof data, nullptr, 0, &needed, &status);
    const DWORD error = GetLastError();
    ClosePrinter(xcv);
    if (!ok)
        return fail("the exchange with the monitor failed (error " + std::to_string(error) + ")");
    if (status == ERROR_ALREADY_EXISTS)
        return fail("a port named \"" + args[0] + "\" exists");
    if (status)
        return fail("the monitor refused the port (status " + std::to_string(status) + ")");
    return 0;
}

int addPrinterCommand(const Arguments &args)
{
    if (args.size() != 3)
        return usage("add-printer needs a name, a port and a driver");
    std::string error;
    return addPrinter(args[0], args[1], args[2], &error) ? 0 : fail(error);
}

int installDriverCommand(const Arguments &args)
{
    if (args.size() != 3)
        return usage("install-driver needs a name, an environment and a version");
    std::string error;
    return installDriver(args[0], args[1], args[2], &error) ? 0 : fail(error);
}

int addServiceCommand(const Arguments &args)
{
    Options options;
    std::string error;
    if (!parseOptions(args, { "--display", "--depends-on", "--stop-ms", "--wait-hint-ms" },
            { "--stopped", "--refuses-stop" }, &options, &error))
        return usage(error);
    if (options.positional.size() != 1)
        return usage("add-service needs one service name");
    ServiceFixture service;
    service.name = options.positional[0];
    service.displayName = options.value("--display").value_or(std::string());
    for (auto [it, end] = options.values.equal_range("--depends-on"); it != end; ++it)
        service.dependsOn.push_back(it->second);
    int64_t number = 0;
    if (const auto v = options.value("--stop-ms")) {
        if (!parseNumber(*v, &number))
            return usage("--stop-ms wants a number of milliseconds");
        service.stopMs = number;
    }
    if (const auto v = options.value("--wait-hint-ms")) {
        if (!parseNumber(*v, &number) || number < 0)
            return usage("--wait-hint-ms wants a number of milliseconds");
        service.waitHintMs = uint32_t(number);
    }
    service.running = !options.has("--stopped");
    service.acceptsStop = !options.has("--refuses-stop");
    return addService(service, &error) ? 0 : fail(error);
}

int waitEmpty(const Arguments &args)
{
    Options options;
    std::string error;
    if (!parseOptions(args, { "--timeout-ms" }, {}, &options, &error) || options.positional.size() != 1)
        return usage(error.empty() ? "wait needs one printer" : error);
    int64_t timeout = 60000;
    if (const auto v = options.value("--timeout-ms"); v && !parseNumber(*v, &timeout))
        return usage("--timeout-ms wants a number of milliseconds");
    const int64_t deadline = monotonicMilliseconds() + timeout;
    for (;;) {
        {
            Transaction tx(Transaction::Read);
            const auto printer = printerByName(tx, options.positional[0]);
            if (!printer)
                return fail("no printer named \"" + options.positional[0] + "\"");
            if (jobCount(tx, printer->id) == 0)
                return 0;
        }
        if (monotonicMilliseconds() >= deadline)
            return fail("the queue of \"" + options.positional[0] + "\" is not empty yet");
        Sleep(50);
    }
}

int despool(const Arguments &args)
{
    int64_t id = 0;
    if (args.size() == 2 && args[0] == "--id" && parseNumber(args[1], &id))
        return Despooler(id).run();
    if (args.size() != 1)
        return usage("despool needs a printer");
    {
        Transaction tx(Transaction::Read);
        const auto printer = printerByName(tx, args[0]);
        if (!printer)
            return fail("no printer named \"" + args[0] + "\"");
        id = printer->id;
    }
    return Despooler(id).run();
}

int spooler(const Arguments &args)
{
    int64_t readyFd = -1;
    if (!args.empty() && (args.size() != 2 || args[0] != "--ready-fd" || !parseNumber(args[1], &readyFd)))
        return usage("spooler takes only --ready-fd N");
    return SpoolerProcess().run(int(readyFd));
}

int resetCommand()
{
    std::string error;
    return reset(&error) ? 0 : fail(error);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage("no command given");
    const std::string command = argv[1];
    const Arguments args(argv + 2, argv + argc);
    const std::map<std::string, std::function<int()>> commands = {
        { "print", [&] { return print(args); } },
        { "printers", [&] { return args.empty() ? listPrinters() : usage("printers takes no arguments"); } },
        { "ports", [&] { return args.empty() ? listPorts() : usage("ports takes no arguments"); } },
        { "drivers", [&] { return args.empty() ? listDrivers() : usage("drivers takes no arguments"); } },
        { "services", [&] { return args.empty() ? listServices() : usage("services takes no arguments"); } },
        { "jobs", [&] { return listJobs(args); } },
        { "data", [&] { return listData(args); } },
        { "pause", [&] { return pauseOrResume(args, true); } },
        { "resume", [&] { return pauseOrResume(args, false); } },
        { "add-port", [&] { return addTcpPort(args); } },
        { "add-printer", [&] { return addPrinterCommand(args); } },
        { "install-driver", [&] { return installDriverCommand(args); } },
        { "add-service", [&] { return addServiceCommand(args); } },
        { "wait", [&] { return waitEmpty(args); } },
        { "reset", [&] { return args.empty() ? resetCommand() : usage("reset takes no arguments"); } },
        { "root", [&] { return std::printf("%s\n", rootPath().c_str()) > 0 ? 0 : kFailed; } },
        { "despool", [&] { return despool(args); } },
        { "spooler", [&] { return spooler(args); } },
    };
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    const auto found = commands.find(command);
    if (found == commands.end())
        return usage("unknown command \"" + command + "\"");
    try {
        return found->second();
    } catch (const StoreError &e) {
        return fail(e.what());
    }
}
