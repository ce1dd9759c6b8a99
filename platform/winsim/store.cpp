#include "store.h"

#include "machine.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace winsim {
namespace {

const char *const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE IF NOT EXISTS ports(
  id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, name_key TEXT NOT NULL UNIQUE,
  monitor TEXT NOT NULL, record BLOB);
CREATE TABLE IF NOT EXISTS drivers(
  id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, name_key TEXT NOT NULL,
  environment TEXT NOT NULL, env_key TEXT NOT NULL, version TEXT NOT NULL, date TEXT NOT NULL,
  data_file TEXT NOT NULL, UNIQUE(name_key, env_key));
CREATE TABLE IF NOT EXISTS printers(
  id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, name_key TEXT NOT NULL UNIQUE,
  port TEXT NOT NULL, driver TEXT NOT NULL, comment TEXT NOT NULL DEFAULT '',
  location TEXT NOT NULL DEFAULT '', paused INTEGER NOT NULL DEFAULT 0,
  pending_delete INTEGER NOT NULL DEFAULT 0, despool_passes INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS printer_data(
  printer_id INTEGER NOT NULL, name TEXT NOT NULL, name_key TEXT NOT NULL, type INTEGER NOT NULL,
  data BLOB NOT NULL, PRIMARY KEY(printer_id, name_key));
CREATE TABLE IF NOT EXISTS jobs(
  id INTEGER PRIMARY KEY AUTOINCREMENT, printer_id INTEGER NOT NULL, document TEXT,
  user TEXT NOT NULL, size INTEGER NOT NULL, submitted_ms INTEGER NOT NULL,
  status INTEGER NOT NULL DEFAULT 0, data BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS jobs_by_printer ON jobs(printer_id, id);
CREATE TABLE IF NOT EXISTS reg_keys(path_key TEXT PRIMARY KEY, path TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS reg_values(
  path_key TEXT NOT NULL, name_key TEXT NOT NULL, name TEXT NOT NULL, type INTEGER NOT NULL,
  data BLOB NOT NULL, PRIMARY KEY(path_key, name_key));
CREATE TABLE IF NOT EXISTS services(
  id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, name_key TEXT NOT NULL UNIQUE,
  display TEXT NOT NULL, state INTEGER NOT NULL, accepts_stop INTEGER NOT NULL,
  stop_ms INTEGER NOT NULL, wait_hint INTEGER NOT NULL, stop_started INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS service_deps(
  service_key TEXT NOT NULL, depends_on_key TEXT NOT NULL, PRIMARY KEY(service_key, depends_on_key));
CREATE TABLE IF NOT EXISTS despool_requests(
  printer_id INTEGER PRIMARY KEY, connect_retry_ms INTEGER NOT NULL, close_wait_ms INTEGER NOT NULL);
)sql";

void execute(sqlite3 *db, const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw StoreError(text);
    }
}

} // namespace

Store &Store::instance()
{
    static Store *store = new Store; // never destroyed: calls may come from static destructors
    return *store;
}

Store::~Store()
{
    if (m_db)
        sqlite3_close(m_db);
}

std::string Store::rootFromEnvironment()
{
    if (const char *root = std::getenv("WINSIM_ROOT"); root && *root)
        return root;
    if (const char *data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/winsim";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/winsim";
}

sqlite3 *Store::connection()
{
    if (!m_db)
        open();
    return m_db;
}

std::string Store::root()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_db)
        open();
    return m_root;
}

void Store::reopen()
{
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
    m_root.clear();
}

void Store::open()
{
    const std::string root = rootFromEnvironment();
    if (!makePath(root))
        throw StoreError("cannot create the winsim root " + root);
    const std::string file = root + "/winsim.db";
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        const std::string text = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw StoreError("cannot open " + file + ": " + text);
    }
    // Several processes share the file: readers must not block the despooler, and a writer waits
    // for another rather than failing.
    sqlite3_busy_timeout(db, 15000);
    try {
        execute(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
        m_db = db;
        m_root = root;
        createSchema();
    } catch (...) {
        sqlite3_close(db);
        m_db = nullptr;
        m_root.clear();
        throw;
    }
}

void Store::createSchema()
{
    execute(m_db, "BEGIN IMMEDIATE");
    try {
        execute(m_db, kSchema);
        seedMachine(m_db);
        execute(m_db, "COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool makePath(const std::string &path)
{
    if (path.empty())
        return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            const std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace winsim
