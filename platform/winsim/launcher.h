// Starting detached winsim tool processes, and the per-printer lock files of a despooler, which it
// holds in the winsim root while it runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

// Starts `winsim ARGUMENTS...` on the given root and returns at once; the process outlives its
// starter. A passFd of 0 or more is the child's descriptor 3; it gets no other of the starter's.
bool startTool(const std::vector<std::string> &arguments, const std::string &root, int passFd = -1);

// True while a despooler holds the printer's lock.
bool despoolerActive(const std::string &root, int64_t printerId);

// The lock files of a printer's despooler: "lock" held while sending, "wait" by the next in line.
std::string despoolLockPath(const std::string &root, int64_t printerId, const char *which);

// The winsim tool beside this library.
std::string winsimToolPath();

} // namespace winsim
