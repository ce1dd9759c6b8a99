// The service manager's part of the shared state. A stop takes a set time: the service reports
// STOP_PENDING with its wait hint until that time has passed, in every process alike.
#pragma once

#include "transaction.h"

struct sqlite3;

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

struct ServiceRow
{
    int64_t id = 0;
    std::string name, display;
    uint32_t state = 0; // as of the time it was read
    bool acceptsStop = true;
    int64_t stopMs = 0; // negative: the stop never completes
    uint32_t waitHint = 0;
    int64_t stopStarted = 0;
    uint32_t checkPoint = 0;
};

struct ServiceDefinition
{
    std::string name, display;
    std::vector<std::string> dependsOn;
    bool running = true;
    bool acceptsStop = true;
    int64_t stopMs = 0;
    uint32_t waitHint = 0;
};

std::optional<ServiceRow> serviceByName(Transaction &tx, const std::string &name, int64_t now);
std::vector<ServiceRow> services(Transaction &tx, int64_t now);
std::vector<std::string> serviceDependencies(Transaction &tx, const std::string &name);
// Every service that depends on this one, directly or not, the last to start first.
std::vector<ServiceRow> dependentsInStopOrder(Transaction &tx, const std::string &name, int64_t now);
// False when a service of that name exists, unless it is the built-in "Spooler", which a test may
// define anew once (with its own dependents and stop behaviour).
bool addService(Transaction &tx, const ServiceDefinition &definition);
void beginServiceStop(Transaction &tx, int64_t id, int64_t now);

// The "Spooler" service every machine has, running; nothing happens when one exists already.
void addBuiltInSpooler(sqlite3 *db);
bool isSpoolerService(const std::string &name);

// The process a test named to be taken for the spooler; 0 when none is named.
uint32_t namedSpoolerProcess(Transaction &tx);
void setNamedSpoolerProcess(Transaction &tx, uint32_t processId);

} // namespace winsim
