#include "servicestate.h"

#include "statement.h"
#include "textcodec.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

namespace winsim {
namespace {

constexpr uint32_t kStopped = 1;
constexpr uint32_t kStopPending = 3;

ServiceRow readService(const Statement &s, int64_t now)
{
    ServiceRow row;
    row.id = s.integer(0);
    row.name = s.text(1);
    row.display = s.text(2);
    row.state = uint32_t(s.integer(3));
    row.acceptsStop = s.integer(4) != 0;
    row.stopMs = s.integer(5);
    row.waitHint = uint32_t(s.integer(6));
    row.stopStarted = s.integer(7);
    if (row.state == kStopPending) {
        const int64_t elapsed = now - row.stopStarted;
        if (row.stopMs >= 0 && elapsed >= row.stopMs) {
            row.state = kStopped;
        } else {
            // The check point advances once per wait hint, as a service reporting progress does.
            row.checkPoint = uint32_t(1 + (row.waitHint ? elapsed / row.waitHint : 0));
        }
    }
    return row;
}

const char *const kServiceColumns
    = "SELECT id, name, display, state, accepts_stop, stop_ms, wait_hint, stop_started FROM services ";

const char *const kSpoolerName = "Spooler";

int64_t metaInteger(sqlite3 *db, const char *key)
{
    Statement s(db, "SELECT value FROM meta WHERE key = ?");
    s.bind(1, std::string(key));
    return s.next() ? std::strtoll(s.text(0).c_str(), nullptr, 10) : 0;
}

void setMetaInteger(sqlite3 *db, const char *key, int64_t value)
{
    if (value == 0) {
        Statement s(db, "DELETE FROM meta WHERE key = ?");
        s.bind(1, std::string(key)).run();
        return;
    }
    Statement s(db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
    s.bind(1, std::string(key)).bind(2, std::to_string(value)).run();
}

int64_t insertService(sqlite3 *db, const ServiceDefinition &definition)
{
    Statement s(db,
        "INSERT INTO services(name, name_key, display, state, accepts_stop, stop_ms, wait_hint) "
        "VALUES(?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, definition.name).bind(2, foldedKey(definition.name));
    s.bind(3, definition.display.empty() ? definition.name : definition.display);
    s.bind(4, int64_t(definition.running ? 4 : kStopped)).bind(5, definition.acceptsStop ? 1 : 0);
    s.bind(6, definition.stopMs).bind(7, int64_t(definition.waitHint)).run();
    for (const auto &dependency : definition.dependsOn) {
        Statement d(db, "INSERT OR IGNORE INTO service_deps(service_key, depends_on_key) VALUES(?, ?)");
        d.bind(1, foldedKey(definition.name)).bind(2, foldedKey(dependency)).run();
    }
    return sqlite3_last_insert_rowid(db);
}

} // namespace

std::optional<ServiceRow> serviceByName(Transaction &tx, const std::string &name, int64_t now)
{
    Statement s(tx.db(), (std::string(kServiceColumns) + "WHERE name_key = ?").c_str());
    s.bind(1, foldedKey(name));
    if (!s.next())
        return std::nullopt;
    return readService(s, now);
}

std::vector<ServiceRow> services(Transaction &tx, int64_t now)
{
    Statement s(tx.db(), (std::string(kServiceColumns) + "ORDER BY id").c_str());
    std::vector<ServiceRow> rows;
    while (s.next())
        rows.push_back(readService(s, now));
    return rows;
}

std::vector<std::string> serviceDependencies(Transaction &tx, const std::string &name)
{
    Statement s(tx.db(),
        "SELECT COALESCE(services.name, depends_on_key) FROM service_deps "
        "LEFT JOIN services ON services.name_key = depends_on_key WHERE service_key = ? "
        "ORDER BY depends_on_key");
    s.bind(1, foldedKey(name));
    std::vector<std::string> names;
    while (s.next())
        names.push_back(s.text(0));
    return names;
}

std::vector<ServiceRow> dependentsInStopOrder(Transaction &tx, const std::string &name, int64_t now)
{
    std::map<std::string, std::vector<std::string>> dependentsOf; // key -> keys that need it
    {
        Statement s(tx.db(), "SELECT service_key, depends_on_key FROM service_deps");
        while (s.next())
            dependentsOf[s.text(1)].push_back(s.text(0));
    }
    std::map<std::string, ServiceRow> found;
    std::vector<std::string> frontier { foldedKey(name) };
    while (!frontier.empty()) {
        const std::string key = frontier.back();
        frontier.pop_back();
        for (const auto &dependent : dependentsOf[key]) {
            if (found.count(dependent))
                continue;
            if (auto row = serviceByName(tx, dependent, now)) {
                found[dependent] = *row;
                frontier.push_back(dependent);
            }
        }
    }
    // Start order within the set: a service after everything it depends on, earlier-created first.
    std::vector<ServiceRow> startOrder;
    std::set<std::string> started;
    while (startOrder.size() < found.size()) {
        const ServiceRow *next = nullptr;
        std::string nextKey;
        for (const auto &[key, row] : found) {
            if (started.count(key))
                continue;
            bool ready = true;
            for (const auto &dependency : serviceDependencies(tx, row.name)) {
                const std::string dependencyKey = foldedKey(dependency);
                if (found.count(dependencyKey) && !started.count(dependencyKey))
                    ready = false;
            }
            if (ready && (!next || row.id < next->id)) {
                next = &row;
                nextKey = key;
            }
        }
        if (!next)
            break; // a dependency cycle: the service manager would refuse to start any of these
        started.insert(nextKey);
        startOrder.push_back(*next);
    }
    std::reverse(startOrder.begin(), startOrder.end());
    return startOrder;
}

bool addService(Transaction &tx, const ServiceDefinition &definition)
{
    if (const auto existing = serviceByName(tx, definition.name, 0)) {
        if (existing->id != metaInteger(tx.db(), "builtin_spooler"))
            return false;
        // Services that depend on the built-in one name it by key, so they keep depending on it.
        Statement drop(tx.db(), "DELETE FROM services WHERE id = ?");
        drop.bind(1, existing->id).run();
        Statement deps(tx.db(), "DELETE FROM service_deps WHERE service_key = ?");
        deps.bind(1, foldedKey(existing->name)).run();
        setMetaInteger(tx.db(), "builtin_spooler", 0);
    }
    insertService(tx.db(), definition);
    return true;
}

void addBuiltInSpooler(sqlite3 *db)
{
    Statement exists(db, "SELECT 1 FROM services WHERE name_key = ?");
    exists.bind(1, foldedKey(kSpoolerName));
    if (exists.next())
        return;
    const int64_t id = insertService(db, { kSpoolerName, "Print Spooler", {}, true, true, 0, 0 });
    setMetaInteger(db, "builtin_spooler", id);
}

bool isSpoolerService(const std::string &name)
{
    return foldedKey(name) == foldedKey(kSpoolerName);
}

uint32_t namedSpoolerProcess(Transaction &tx)
{
    return uint32_t(metaInteger(tx.db(), "spooler_pid"));
}

void setNamedSpoolerProcess(Transaction &tx, uint32_t processId)
{
    setMetaInteger(tx.db(), "spooler_pid", processId);
}

void beginServiceStop(Transaction &tx, int64_t id, int64_t now)
{
    Statement s(tx.db(), "SELECT stop_ms FROM services WHERE id = ?");
    s.bind(1, id);
    if (!s.next())
        return;
    const bool immediate = s.integer(0) == 0;
    Statement u(tx.db(), "UPDATE services SET state = ?, stop_started = ? WHERE id = ?");
    u.bind(1, int64_t(immediate ? kStopped : kStopPending)).bind(2, now).bind(3, id).run();
}

} // namespace winsim
