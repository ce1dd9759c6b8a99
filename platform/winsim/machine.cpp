#include "machine.h"

#include "servicestate.h"
#include "statement.h"
#include "textcodec.h"

#include <string>

namespace winsim {

namespace {

// Every Windows runs the print spooler. A state from before it was built in gets it on first use,
// unless a test defined its own.
void seedSpoolerService(sqlite3 *db)
{
    Statement seeded(db, "SELECT 1 FROM meta WHERE key = 'spooler_seeded'");
    if (seeded.next())
        return;
    addBuiltInSpooler(db);
    Statement mark(db, "INSERT INTO meta(key, value) VALUES('spooler_seeded', '1')");
    mark.run();
}

} // namespace

void seedMachine(sqlite3 *db)
{
    seedSpoolerService(db);
    Statement seeded(db, "SELECT 1 FROM meta WHERE key = 'seeded'");
    if (seeded.next())
        return;
    for (const char *port : { "LPT1:", "FILE:" }) {
        Statement s(db, "INSERT INTO ports(name, name_key, monitor) VALUES(?, ?, 'Local Port')");
        s.bind(1, std::string(port)).bind(2, foldedKey(port)).run();
    }
    for (const char *environment : { "Windows x64", "Windows NT x86" }) {
        const std::string full = std::string("SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\")
            + environment + "\\Drivers\\Version-3";
        size_t end = 0;
        while (end != std::string::npos) {
            end = full.find('\\', end + 1);
            const std::string part = full.substr(0, end);
            Statement s(db, "INSERT OR IGNORE INTO reg_keys(path_key, path) VALUES(?, ?)");
            s.bind(1, foldedKey(part)).bind(2, part).run();
        }
    }
    Statement mark(db, "INSERT INTO meta(key, value) VALUES('seeded', '1')");
    mark.run();
}

void clearMachine(sqlite3 *db)
{
    for (const char *table : { "meta", "ports", "drivers", "printers", "printer_data", "jobs", "reg_keys",
             "reg_values", "services", "service_deps", "despool_requests" }) {
        Statement s(db, (std::string("DELETE FROM ") + table).c_str());
        s.run();
    }
    seedMachine(db);
}

} // namespace winsim
