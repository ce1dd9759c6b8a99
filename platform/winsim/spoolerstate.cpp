#include "spoolerstate.h"

#include "registrystate.h"
#include "statement.h"
#include "store.h"
#include "textcodec.h"

#include <cstdlib>

namespace winsim {

const char *const kMachineEnvironment = "Windows x64";

namespace {

const Environment kEnvironments[] = {
    { "Windows x64", "x64", "NTamd64" },
    { "Windows NT x86", "W32X86", "NTx86" },
    { "Windows IA64", "IA64", "NTia64" },
};

constexpr size_t kMaxPrinterName = 220;

const char *const kPrinterColumns = "SELECT id, name, port, driver, comment, location, paused, "
                                    "pending_delete, despool_passes FROM printers ";

PrinterRow readPrinter(const Statement &s)
{
    PrinterRow row;
    row.id = s.integer(0);
    row.name = s.text(1);
    row.port = s.text(2);
    row.driver = s.text(3);
    row.comment = s.text(4);
    row.location = s.text(5);
    row.paused = s.integer(6) != 0;
    row.pendingDelete = s.integer(7) != 0;
    row.despoolPasses = s.integer(8);
    return row;
}

DriverRow readDriver(const Statement &s)
{
    DriverRow row;
    row.id = s.integer(0);
    row.name = s.text(1);
    row.environment = s.text(2);
    row.version = s.text(3);
    row.date = s.text(4);
    row.dataFile = s.text(5);
    return row;
}

std::string currentUser()
{
    const char *user = std::getenv("USER");
    return user && *user ? user : "winsim";
}

} // namespace

const Environment *findEnvironment(const std::string &name)
{
    for (const auto &environment : kEnvironments)
        if (foldedKey(environment.name) == foldedKey(name))
            return &environment;
    return nullptr;
}

uint32_t checkPrinterName(const std::string &name)
{
    const std::u16string wide = toUtf16(name);
    if (wide.empty() || wide.size() > kMaxPrinterName)
        return 1801; // ERROR_INVALID_PRINTER_NAME
    // The spooler reserves these for server and connection names.
    if (wide.find(u'\\') != std::u16string::npos || wide.find(u',') != std::u16string::npos)
        return 1801;
    return 0;
}

std::optional<PrinterRow> printerByName(Transaction &tx, const std::string &name)
{
    Statement s(tx.db(), (std::string(kPrinterColumns) + "WHERE name_key = ?").c_str());
    s.bind(1, foldedKey(name));
    if (!s.next())
        return std::nullopt;
    return readPrinter(s);
}

std::optional<PrinterRow> printerById(Transaction &tx, int64_t id)
{
    Statement s(tx.db(), (std::string(kPrinterColumns) + "WHERE id = ?").c_str());
    s.bind(1, id);
    if (!s.next())
        return std::nullopt;
    return readPrinter(s);
}

std::vector<PrinterRow> printers(Transaction &tx)
{
    Statement s(tx.db(), (std::string(kPrinterColumns) + "ORDER BY id").c_str());
    std::vector<PrinterRow> rows;
    while (s.next())
        rows.push_back(readPrinter(s));
    return rows;
}

uint32_t createPrinter(Transaction &tx, const std::string &name, const std::string &port,
    const std::string &driverName, int64_t *id)
{
    if (const uint32_t error = checkPrinterName(name))
        return error;
    if (printerByName(tx, name))
        return 1802; // ERROR_PRINTER_ALREADY_EXISTS
    const auto portRow = portByName(tx, port);
    if (!portRow)
        return 1796; // ERROR_UNKNOWN_PORT
    const auto driverRow = driver(tx, driverName, *findEnvironment(kMachineEnvironment));
    if (!driverRow)
        return 1797; // ERROR_UNKNOWN_PRINTER_DRIVER
    Statement s(tx.db(), "INSERT INTO printers(name, name_key, port, driver) VALUES(?, ?, ?, ?)");
    s.bind(1, name).bind(2, foldedKey(name)).bind(3, portRow->name).bind(4, driverRow->name).run();
    Statement last(tx.db(), "SELECT last_insert_rowid()");
    last.next();
    if (id)
        *id = last.integer(0);
    return 0;
}

uint32_t updatePrinter(Transaction &tx, const PrinterRow &row)
{
    if (const uint32_t error = checkPrinterName(row.name))
        return error;
    const auto other = printerByName(tx, row.name);
    if (other && other->id != row.id)
        return 1802; // ERROR_PRINTER_ALREADY_EXISTS
    const auto portRow = portByName(tx, row.port);
    if (!portRow)
        return 1796; // ERROR_UNKNOWN_PORT
    const auto driverRow = driver(tx, row.driver, *findEnvironment(kMachineEnvironment));
    if (!driverRow)
        return 1797; // ERROR_UNKNOWN_PRINTER_DRIVER
    Statement s(tx.db(),
        "UPDATE printers SET name = ?, name_key = ?, port = ?, driver = ?, comment = ?, location = ? "
        "WHERE id = ?");
    s.bind(1, row.name).bind(2, foldedKey(row.name)).bind(3, portRow->name).bind(4, driverRow->name);
    s.bind(5, row.comment).bind(6, row.location).bind(7, row.id).run();
    return 0;
}

void setPrinterPaused(Transaction &tx, int64_t id, bool paused)
{
    Statement s(tx.db(), "UPDATE printers SET paused = ? WHERE id = ?");
    s.bind(1, paused ? 1 : 0).bind(2, id).run();
}

void countDespoolPass(Transaction &tx, int64_t id)
{
    Statement s(tx.db(), "UPDATE printers SET despool_passes = despool_passes + 1 WHERE id = ?");
    s.bind(1, id).run();
}

bool deletePrinter(Transaction &tx, int64_t id)
{
    if (jobCount(tx, id) > 0) {
        Statement s(tx.db(), "UPDATE printers SET pending_delete = 1 WHERE id = ?");
        s.bind(1, id).run();
        return false;
    }
    Statement data(tx.db(), "DELETE FROM printer_data WHERE printer_id = ?");
    data.bind(1, id).run();
    Statement printer(tx.db(), "DELETE FROM printers WHERE id = ?");
    printer.bind(1, id).run();
    return true;
}

std::optional<DataValue> dataValue(Transaction &tx, int64_t printerId, const std::string &name)
{
    Statement s(tx.db(), "SELECT name, type, data FROM printer_data WHERE printer_id = ? AND name_key = ?");
    s.bind(1, printerId).bind(2, foldedKey(name));
    if (!s.next())
        return std::nullopt;
    return DataValue { s.text(0), uint32_t(s.integer(1)), s.blob(2) };
}

std::vector<DataValue> dataValues(Transaction &tx, int64_t printerId)
{
    Statement s(tx.db(), "SELECT name, type, data FROM printer_data WHERE printer_id = ? ORDER BY name_key");
    s.bind(1, printerId);
    std::vector<DataValue> values;
    while (s.next())
        values.push_back(DataValue { s.text(0), uint32_t(s.integer(1)), s.blob(2) });
    return values;
}

void setDataValue(Transaction &tx, int64_t printerId, const DataValue &value)
{
    Statement s(tx.db(),
        "INSERT OR REPLACE INTO printer_data(printer_id, name, name_key, type, data) VALUES(?, ?, ?, ?, ?)");
    s.bind(1, printerId).bind(2, value.name).bind(3, foldedKey(value.name)).bind(4, int64_t(value.type));
    s.bindBlob(5, value.data.data(), value.data.size()).run();
}

std::vector<PortRow> ports(Transaction &tx)
{
    Statement s(tx.db(), "SELECT id, name, monitor, record FROM ports ORDER BY id");
    std::vector<PortRow> rows;
    while (s.next())
        rows.push_back(PortRow { s.integer(0), s.text(1), s.text(2), s.blob(3) });
    return rows;
}

std::optional<PortRow> portByName(Transaction &tx, const std::string &name)
{
    Statement s(tx.db(), "SELECT id, name, monitor, record FROM ports WHERE name_key = ?");
    s.bind(1, foldedKey(name));
    if (!s.next())
        return std::nullopt;
    return PortRow { s.integer(0), s.text(1), s.text(2), s.blob(3) };
}

void addPort(Transaction &tx, const PortRow &port)
{
    Statement s(tx.db(), "INSERT INTO ports(name, name_key, monitor, record) VALUES(?, ?, ?, ?)");
    s.bind(1, port.name).bind(2, foldedKey(port.name)).bind(3, port.monitor);
    if (port.record.empty())
        s.bindNull(4);
    else
        s.bindBlob(4, port.record.data(), port.record.size());
    s.run();
}

void setPortRecord(Transaction &tx, int64_t id, const std::vector<uint8_t> &record)
{
    Statement s(tx.db(), "UPDATE ports SET record = ? WHERE id = ?");
    s.bindBlob(1, record.data(), record.size()).bind(2, id).run();
}

void deletePort(Transaction &tx, int64_t id)
{
    Statement s(tx.db(), "DELETE FROM ports WHERE id = ?");
    s.bind(1, id).run();
}

bool portInUse(Transaction &tx, const std::string &name)
{
    for (const auto &printer : printers(tx))
        if (foldedKey(printer.port) == foldedKey(name))
            return true;
    return false;
}

std::vector<DriverRow> drivers(Transaction &tx, const Environment *environment)
{
    Statement s(tx.db(),
        "SELECT id, name, environment, version, date, data_file FROM drivers "
        "WHERE ? IS NULL OR env_key = ? ORDER BY id");
    if (environment) {
        const std::string key = foldedKey(environment->name);
        s.bind(1, key).bind(2, key);
    } else {
        s.bindNull(1).bindNull(2);
    }
    std::vector<DriverRow> rows;
    while (s.next())
        rows.push_back(readDriver(s));
    return rows;
}

std::optional<DriverRow> driver(Transaction &tx, const std::string &name, const Environment &environment)
{
    Statement s(tx.db(),
        "SELECT id, name, environment, version, date, data_file FROM drivers "
        "WHERE name_key = ? AND env_key = ?");
    s.bind(1, foldedKey(name)).bind(2, foldedKey(environment.name));
    if (!s.next())
        return std::nullopt;
    return readDriver(s);
}

std::string driverKeyPath(const std::string &environment, const std::string &driverName)
{
    return "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\" + environment
        + "\\Drivers\\Version-3\\" + driverName;
}

void installDriver(Transaction &tx, const DriverRow &row)
{
    const Environment *environment = findEnvironment(row.environment);
    if (!environment)
        throw StoreError("unknown environment " + row.environment);
    const auto existing = driver(tx, row.name, *environment);
    if (existing) {
        Statement s(tx.db(), "UPDATE drivers SET version = ?, date = ?, data_file = ? WHERE id = ?");
        s.bind(1, row.version).bind(2, row.date).bind(3, row.dataFile).bind(4, existing->id).run();
    } else {
        Statement s(tx.db(),
            "INSERT INTO drivers(name, name_key, environment, env_key, version, date, data_file) "
            "VALUES(?, ?, ?, ?, ?, ?, ?)");
        s.bind(1, row.name).bind(2, foldedKey(row.name)).bind(3, environment->name);
        s.bind(4, foldedKey(environment->name)).bind(5, row.version).bind(6, row.date).bind(7, row.dataFile);
        s.run();
    }
    const std::string name = existing ? existing->name : row.name;
    const std::string key = driverKeyPath(environment->name, name);
    createRegistryKey(tx, key);
    setRegistryText(tx, key, "DriverVersion", row.version);
    setRegistryText(tx, key, "DriverDate", row.date);
    setRegistryText(tx, key, "Driver", "UNIDRV.DLL");
    setRegistryText(tx, key, "Data File", row.dataFile);
    setRegistryText(tx, key, "Configuration File", "UNIDRVUI.DLL");
    setRegistryText(tx, key, "Help File", "UNIDRV.HLP");
    setRegistryNumber(tx, key, "Version", 3);
}

void removeDriver(Transaction &tx, const DriverRow &row)
{
    Statement s(tx.db(), "DELETE FROM drivers WHERE id = ?");
    s.bind(1, row.id).run();
    deleteRegistryTree(tx, driverKeyPath(row.environment, row.name));
}

bool driverInUse(Transaction &tx, const DriverRow &row)
{
    // Every printer of this machine uses a driver of the machine's own environment.
    if (foldedKey(row.environment) != foldedKey(kMachineEnvironment))
        return false;
    for (const auto &printer : printers(tx))
        if (foldedKey(printer.driver) == foldedKey(row.name))
            return true;
    return false;
}

std::vector<JobRow> jobs(Transaction &tx, int64_t printerId)
{
    Statement s(tx.db(),
        "SELECT id, printer_id, document, user, size, submitted_ms, status FROM jobs "
        "WHERE printer_id = ? ORDER BY id");
    s.bind(1, printerId);
    std::vector<JobRow> rows;
    while (s.next()) {
        JobRow row;
        row.id = s.integer(0);
        row.printerId = s.integer(1);
        if (!s.isNull(2))
            row.document = s.text(2);
        row.user = s.text(3);
        row.size = s.integer(4);
        row.submittedMs = s.integer(5);
        row.status = uint32_t(s.integer(6));
        rows.push_back(row);
    }
    return rows;
}

int64_t jobCount(Transaction &tx, int64_t printerId)
{
    Statement s(tx.db(), "SELECT COUNT(*) FROM jobs WHERE printer_id = ?");
    s.bind(1, printerId);
    s.next();
    return s.integer(0);
}

int64_t addJob(Transaction &tx, int64_t printerId, const std::optional<std::string> &document,
    const std::vector<uint8_t> &data, int64_t submittedMs)
{
    Statement s(tx.db(),
        "INSERT INTO jobs(printer_id, document, user, size, submitted_ms, status, data) "
        "VALUES(?, ?, ?, ?, ?, 0, ?)");
    s.bind(1, printerId);
    if (document)
        s.bind(2, *document);
    else
        s.bindNull(2);
    s.bind(3, currentUser()).bind(4, int64_t(data.size())).bind(5, submittedMs);
    s.bindBlob(6, data.data(), data.size()).run();
    Statement last(tx.db(), "SELECT last_insert_rowid()");
    last.next();
    return last.integer(0);
}

void purgeJobs(Transaction &tx, int64_t printerId, bool despoolerAlive)
{
    if (!despoolerAlive) {
        Statement s(tx.db(), "DELETE FROM jobs WHERE printer_id = ?");
        s.bind(1, printerId).run();
        return;
    }
    Statement queued(tx.db(), "DELETE FROM jobs WHERE printer_id = ? AND (status & ?) = 0");
    queued.bind(1, printerId).bind(2, int64_t(kJobPrinting)).run();
    Statement printing(tx.db(), "UPDATE jobs SET status = status | ? WHERE printer_id = ?");
    printing.bind(1, int64_t(kJobDeleting)).bind(2, printerId).run();
}

std::optional<ClaimedJob> claimNextJob(Transaction &tx, int64_t printerId)
{
    Statement s(tx.db(), "SELECT id, data FROM jobs WHERE printer_id = ? ORDER BY id LIMIT 1");
    s.bind(1, printerId);
    if (!s.next())
        return std::nullopt;
    ClaimedJob job { s.integer(0), s.blob(1) };
    Statement mark(tx.db(), "UPDATE jobs SET status = ? WHERE id = ?");
    mark.bind(1, int64_t(kJobPrinting)).bind(2, job.id).run();
    return job;
}

std::optional<uint32_t> jobStatus(Transaction &tx, int64_t jobId)
{
    Statement s(tx.db(), "SELECT status FROM jobs WHERE id = ?");
    s.bind(1, jobId);
    if (!s.next())
        return std::nullopt;
    return uint32_t(s.integer(0));
}

void finishJob(Transaction &tx, int64_t jobId)
{
    Statement s(tx.db(), "DELETE FROM jobs WHERE id = ?");
    s.bind(1, jobId).run();
}

void failJob(Transaction &tx, int64_t jobId)
{
    Statement s(tx.db(), "UPDATE jobs SET status = ? WHERE id = ?");
    s.bind(1, int64_t(kJobError)).bind(2, jobId).run();
}

void recoverInterruptedJobs(Transaction &tx, int64_t printerId)
{
    Statement drop(tx.db(), "DELETE FROM jobs WHERE printer_id = ? AND (status & ?) != 0");
    drop.bind(1, printerId).bind(2, int64_t(kJobDeleting)).run();
    Statement requeue(tx.db(), "UPDATE jobs SET status = status & ~? WHERE printer_id = ?");
    requeue.bind(1, int64_t(kJobPrinting)).bind(2, printerId).run();
}

void addDespoolRequest(Transaction &tx, const DespoolRequest &request)
{
    Statement s(tx.db(),
        "INSERT OR REPLACE INTO despool_requests(printer_id, connect_retry_ms, close_wait_ms) VALUES(?, ?, "
        "?)");
    s.bind(1, request.printerId).bind(2, request.connectRetryMs).bind(3, request.closeWaitMs).run();
}

std::vector<DespoolRequest> takeDespoolRequests(Transaction &tx)
{
    std::vector<DespoolRequest> requests;
    {
        Statement s(tx.db(),
            "SELECT printer_id, connect_retry_ms, close_wait_ms FROM despool_requests "
            "ORDER BY printer_id");
        while (s.next())
            requests.push_back({ s.integer(0), s.integer(1), s.integer(2) });
    }
    if (!requests.empty()) {
        Statement clear(tx.db(), "DELETE FROM despool_requests");
        clear.run();
    }
    return requests;
}

} // namespace winsim
