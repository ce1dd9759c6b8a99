// The spooler's part of the shared state: printers, their data values, ports, drivers and jobs.
// Free functions over an open Transaction; names are looked up without regard to case.
#pragma once

#include "transaction.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// The environment of this machine: the one its printers use and drivers are installed for.
extern const char *const kMachineEnvironment;

// Job status bits as the spooler reports them.
constexpr uint32_t kJobError = 0x2;
constexpr uint32_t kJobDeleting = 0x4;
constexpr uint32_t kJobPrinting = 0x10;

struct Environment
{
    const char *name;
    const char *directory; // below spool\DRIVERS
    const char *infDecoration;
};
// The canonical environment for a name given in any case; null for an unknown one.
const Environment *findEnvironment(const std::string &name);

struct PrinterRow
{
    int64_t id = 0;
    std::string name, port, driver, comment, location;
    bool paused = false;
    bool pendingDelete = false;
    int64_t despoolPasses = 0;
};

struct PortRow
{
    int64_t id = 0;
    std::string name, monitor;
    std::vector<uint8_t> record; // the monitor's settings record; empty for "Local Port"
};

struct DriverRow
{
    int64_t id = 0;
    std::string name, environment, version, date, dataFile;
};

struct JobRow
{
    int64_t id = 0;
    int64_t printerId = 0;
    std::optional<std::string> document;
    std::string user;
    int64_t size = 0;
    int64_t submittedMs = 0;
    uint32_t status = 0;
};

struct DataValue
{
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// 0 when a printer may carry this name, else the Windows error for it.
uint32_t checkPrinterName(const std::string &name);

std::optional<PrinterRow> printerByName(Transaction &tx, const std::string &name);
std::optional<PrinterRow> printerById(Transaction &tx, int64_t id);
std::vector<PrinterRow> printers(Transaction &tx);
uint32_t createPrinter(Transaction &tx, const std::string &name, const std::string &port,
    const std::string &driver, int64_t *id);
// Applies a level-2 record: name, port, driver, comment and location. Data values and jobs stay.
uint32_t updatePrinter(Transaction &tx, const PrinterRow &row);
void setPrinterPaused(Transaction &tx, int64_t id, bool paused);
void countDespoolPass(Transaction &tx, int64_t id);
// Deletes the printer now when its queue is empty; otherwise marks it to go when the queue drains.
bool deletePrinter(Transaction &tx, int64_t id);

std::optional<DataValue> dataValue(Transaction &tx, int64_t printerId, const std::string &name);
std::vector<DataValue> dataValues(Transaction &tx, int64_t printerId);
void setDataValue(Transaction &tx, int64_t printerId, const DataValue &value);

std::vector<PortRow> ports(Transaction &tx);
std::optional<PortRow> portByName(Transaction &tx, const std::string &name);
void addPort(Transaction &tx, const PortRow &port);
void setPortRecord(Transaction &tx, int64_t id, const std::vector<uint8_t> &record);
void deletePort(Transaction &tx, int64_t id);
bool portInUse(Transaction &tx, const std::string &name);

// Drivers of one environment, or of all when environment is null.
std::vector<DriverRow> drivers(Transaction &tx, const Environment *environment);
std::optional<DriverRow> driver(Transaction &tx, const std::string &name, const Environment &environment);
// Installs or updates a driver and writes its registry values.
void installDriver(Transaction &tx, const DriverRow &driver);
void removeDriver(Transaction &tx, const DriverRow &driver);
bool driverInUse(Transaction &tx, const DriverRow &driver);
std::string driverKeyPath(const std::string &environment, const std::string &driver);

std::vector<JobRow> jobs(Transaction &tx, int64_t printerId);
int64_t jobCount(Transaction &tx, int64_t printerId);
int64_t addJob(Transaction &tx, int64_t printerId, const std::optional<std::string> &document,
    const std::vector<uint8_t> &data, int64_t submittedMs);
// Removes the printer's jobs; one that a living despooler is sending is marked for it to abort.
void purgeJobs(Transaction &tx, int64_t printerId, bool despoolerAlive);

// For the despooler: the next job of the queue, marked as printing.
struct ClaimedJob
{
    int64_t id = 0;
    std::vector<uint8_t> data;
};
std::optional<ClaimedJob> claimNextJob(Transaction &tx, int64_t printerId);
std::optional<uint32_t> jobStatus(Transaction &tx, int64_t jobId);
void finishJob(Transaction &tx, int64_t jobId);
void failJob(Transaction &tx, int64_t jobId);
// Jobs left marked as printing by a despooler that died go back to the queue.
void recoverInterruptedJobs(Transaction &tx, int64_t printerId);

// A printer the spooler process is asked to go through, with the bounds its despooler is to use
// (negative: the despooler's own). A later request for the same printer replaces an earlier one.
struct DespoolRequest
{
    int64_t printerId = 0;
    int64_t connectRetryMs = -1;
    int64_t closeWaitMs = -1;
};
void addDespoolRequest(Transaction &tx, const DespoolRequest &request);
// Every waiting request, removed from the state.
std::vector<DespoolRequest> takeDespoolRequests(Transaction &tx);

} // namespace winsim
