// Starting the per-printer despooler, a detached `winsim despool` process, and asking whether one
// is at work. A despooler holds its printer's lock file in the winsim root while it runs.
#pragma once

#include <cstdint>
#include <string>

namespace winsim {

// Starts a despooler for the printer and returns at once; the process outlives its starter.
void startDespooler(int64_t printerId);

// True while a despooler holds the printer's lock.
bool despoolerActive(const std::string &root, int64_t printerId);

// The lock files of a printer's despooler: "lock" held while sending, "wait" by the next in line.
std::string despoolLockPath(const std::string &root, int64_t printerId, const char *which);

// The winsim tool beside this library.
std::string winsimToolPath();

} // namespace winsim
