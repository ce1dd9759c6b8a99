#include "winsimcontrol.h"

#include "callgate.h"
#include "handletable.h"
#include "launcher.h"
#include "machine.h"
#include "processheap.h"
#include "servicestate.h"
#include "spoolerservice.h"
#include "spoolerstate.h"
#include "store.h"
#include "timesource.h"

#include <fstream>

namespace winsim {
namespace {

template<typename Body> bool guarded(std::string *error, Body &&body)
{
    try {
        std::string message;
        if (body(message))
            return true;
        if (error)
            *error = message;
    } catch (const std::exception &e) {
        if (error)
            *error = e.what();
    }
    return false;
}

std::string rundllLogPath(const std::string &root)
{
    return root + "/rundll32.log";
}

bool setPaused(const std::string &printer, bool paused, std::string *error)
{
    int64_t wake = 0;
    const bool done = guarded(error, [&](std::string &message) {
        Transaction tx(Transaction::Write);
        const auto row = printerByName(tx, printer);
        if (!row) {
            message = "no printer named \"" + printer + "\"";
            return false;
        }
        setPrinterPaused(tx, row->id, paused);
        if (!paused && jobCount(tx, row->id) > 0)
            wake = row->id;
        tx.commit();
        return true;
    });
    if (done && wake)
        requestDespool(wake);
    return done;
}

} // namespace

bool reset(std::string *error)
{
    HandleTable::instance().clear();
    CallGate::instance().clear();
    return guarded(error, [&](std::string &) {
        {
            std::lock_guard<std::mutex> lock(Store::instance().mutex());
            Store::instance().reopen();
        }
        Transaction tx(Transaction::Write);
        clearMachine(tx.db());
        std::ofstream(rundllLogPath(tx.root()), std::ios::trunc);
        tx.commit();
        return true;
    });
}

std::string rootPath()
{
    try {
        return Store::instance().root();
    } catch (const StoreError &) {
        return Store::rootFromEnvironment();
    }
}

std::vector<std::string> rundllCommandLines()
{
    std::vector<std::string> lines;
    std::ifstream in(rundllLogPath(rootPath()));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

int openHandleCount()
{
    return HandleTable::instance().count();
}

int heapBlockCount()
{
    return ProcessHeap::instance().liveBlocks();
}

void failCall(const std::string &call, int nth, uint32_t error)
{
    CallGate::instance().inject(call, nth, error);
}

int callCount(const std::string &call)
{
    return CallGate::instance().count(call);
}

bool addService(const ServiceFixture &service, std::string *error)
{
    return guarded(error, [&](std::string &message) {
        if (service.name.empty()) {
            message = "a service needs a name";
            return false;
        }
        ServiceDefinition definition { service.name, service.displayName, service.dependsOn, service.running,
            service.acceptsStop, service.stopMs, service.waitHintMs };
        Transaction tx(Transaction::Write);
        if (!winsim::addService(tx, definition)) {
            message = "a service named \"" + service.name + "\" exists";
            return false;
        }
        tx.commit();
        return true;
    });
}

bool nameSpoolerProcess(uint32_t processId, std::string *error)
{
    return guarded(error, [&](std::string &) {
        Transaction tx(Transaction::Write);
        setNamedSpoolerProcess(tx, processId);
        tx.commit();
        return true;
    });
}

bool installDriver(
    const std::string &name, const std::string &environment, const std::string &version, std::string *error)
{
    return guarded(error, [&](std::string &message) {
        const Environment *found = findEnvironment(environment);
        if (!found || name.empty() || version.empty()) {
            message = found ? "a driver needs a name and a version"
                            : "unknown environment \"" + environment + "\"";
            return false;
        }
        Transaction tx(Transaction::Write);
        winsim::installDriver(tx, DriverRow { 0, name, found->name, version, "01/01/2024", "UNIDRV.GPD" });
        tx.commit();
        return true;
    });
}

bool addPrinter(
    const std::string &name, const std::string &port, const std::string &driver, std::string *error)
{
    return guarded(error, [&](std::string &message) {
        Transaction tx(Transaction::Write);
        switch (createPrinter(tx, name, port, driver, nullptr)) {
        case 0:
            tx.commit();
            return true;
        case 1796:
            message = "no port named \"" + port + "\"";
            return false;
        case 1797:
            message = "the driver \"" + driver + "\" is not installed for " + kMachineEnvironment;
            return false;
        case 1802:
            message = "a printer named \"" + name + "\" exists";
            return false;
        default:
            message = "\"" + name + "\" is no valid printer name";
            return false;
        }
    });
}

uint32_t submitJob(const std::string &printer, const std::optional<std::string> &document,
    const std::vector<uint8_t> &data, int64_t submittedUtcMs, std::string *error)
{
    int64_t jobId = 0;
    int64_t wake = 0;
    guarded(error, [&](std::string &message) {
        Transaction tx(Transaction::Write);
        const auto row = printerByName(tx, printer);
        if (!row) {
            message = "no printer named \"" + printer + "\"";
            return false;
        }
        if (row->pendingDelete) {
            message = "the printer \"" + printer + "\" is being deleted";
            return false;
        }
        jobId = addJob(tx, row->id, document, data, submittedUtcMs >= 0 ? submittedUtcMs : utcMilliseconds());
        if (!row->paused)
            wake = row->id;
        tx.commit();
        return true;
    });
    if (wake)
        requestDespool(wake);
    return uint32_t(jobId);
}

bool pausePrinter(const std::string &printer, std::string *error)
{
    return setPaused(printer, true, error);
}

bool resumePrinter(const std::string &printer, std::string *error)
{
    return setPaused(printer, false, error);
}

int64_t despoolPassCount(const std::string &printer)
{
    try {
        Transaction tx(Transaction::Read);
        const auto row = printerByName(tx, printer);
        return row ? row->despoolPasses : -1;
    } catch (const StoreError &) {
        return -1;
    }
}

} // namespace winsim
