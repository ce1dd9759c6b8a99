// Control of the winsim stand-in for tests, the winsim tool and the RUNDLL32 stand-in: resetting the
// machine, fixtures, failure injection and leak counts. Not part of Windows; only Linux builds have it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// ---- State ------------------------------------------------------------------------------------

// Back to a freshly installed machine ("LPT1:" and "FILE:" only, the running "Spooler" service; no
// printers, drivers or other services).
// Also closes this process's handles, drops its injected failures and call counts, and empties the
// RUNDLL32 log. Reads WINSIM_ROOT again, so a test may point it elsewhere first.
bool reset(std::string *error = nullptr);

// The folder that holds the state file and the logs.
std::string rootPath();

// Command lines RUNDLL32 was started with since the last reset, oldest first, one per start.
std::vector<std::string> rundllCommandLines();

// ---- Leak checks (this process) ----------------------------------------------------------------

// Printer, port-monitor, registry, service and process handles open right now.
int openHandleCount();
// Blocks from HeapAlloc not yet given back with HeapFree.
int heapBlockCount();

// ---- Failure injection and call counts (this process) ------------------------------------------

// The nth call of the named function from now on (1 = the next one) fails with the error: BOOL
// calls return FALSE with it as last error, status calls return it, handle calls return null.
// HeapAlloc just returns null. Names are the exported names, such as "EnumPortsW".
void failCall(const std::string &call, int nth, uint32_t error);
// How often the named function was called since the last reset.
int callCount(const std::string &call);

// ---- Fixtures ----------------------------------------------------------------------------------

struct ServiceFixture
{
    std::string name;
    std::string displayName; // the name when empty
    std::vector<std::string> dependsOn; // services that must run before this one
    bool running = true;
    bool acceptsStop = true;
    int64_t stopMs = 0; // time a stop takes; negative: never completes
    uint32_t waitHintMs = 0; // reported while the stop is pending
};
// The built-in "Spooler" may be defined anew once after each reset; the spooler process stays
// its process.
bool addService(const ServiceFixture &service, std::string *error = nullptr);

// Makes the "Spooler" service report this process id, for every process of the machine, so that a
// test that plays the spooler itself is taken for it; 0 gives the role back to the process that
// despools. A reset does the same.
bool nameSpoolerProcess(uint32_t processId, std::string *error = nullptr);

// Installs a driver for one environment ("Windows x64", "Windows NT x86", "Windows IA64") with its
// registry values, as an installation from an INF would.
bool installDriver(const std::string &name, const std::string &environment, const std::string &version,
    std::string *error = nullptr);

// Creates a printer on an existing port with a driver installed for "Windows x64".
bool addPrinter(const std::string &name, const std::string &port, const std::string &driver,
    std::string *error = nullptr);

// ---- Queues ------------------------------------------------------------------------------------

// Queues a job as an application printing would; the spooler sends it unless the printer is paused.
// A document without name shows as a null pDocument. The submission time defaults to now (UTC).
// Returns the job id, 0 on failure.
uint32_t submitJob(const std::string &printer, const std::optional<std::string> &document,
    const std::vector<uint8_t> &data, int64_t submittedUtcMs = -1, std::string *error = nullptr);

bool pausePrinter(const std::string &printer, std::string *error = nullptr);
bool resumePrinter(const std::string &printer, std::string *error = nullptr);

// How many times a despooler of the printer has finished going through its queue (emptied it,
// found the printer paused, or gave up on an unreachable port); -1 for an unknown printer. Lets a
// test wait until the spooler has looked at a paused printer's queue and left it alone.
int64_t despoolPassCount(const std::string &printer);

} // namespace winsim
