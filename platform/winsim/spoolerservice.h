// The one spooler process of a winsim root, as seen by everyone else: asking it to go through a
// printer's queue, and finding (or starting) it. It holds the root's spooler lock while it lives;
// the lock's holder, as the kernel reports it, is the spooler's process id, so there is no moment
// at which a stale id could be read.
//
// Hand-over: a requester records its request in the state first and then, under the start lock,
// either wakes the living spooler or starts one. A spooler leaves only under the start lock, after
// finding no request left, and lets go of its lock before the start lock. So every request is seen
// by a spooler that goes on living, or finds the lock free and starts a new one.
#pragma once

#include <cstdint>
#include <string>

namespace winsim {

std::string spoolerLockPath(const std::string &root);
std::string spoolerStartLockPath(const std::string &root);
std::string spoolerWakePath(const std::string &root);

// The process holding the root's spooler lock; 0 when no spooler runs.
uint32_t runningSpoolerProcess(const std::string &root);

// Has the spooler process go through the printer's queue, with the connect and close bounds of
// this process's environment. Starts the spooler when none runs. Reports failures on stderr.
void requestDespool(int64_t printerId);

// The spooler's process id, started if none runs; 0 when it cannot be started.
uint32_t ensureSpoolerProcess();

// The spooler process says so while it holds the lock, so that it never probes its own lock (a
// POSIX lock goes with any descriptor of the file its process closes).
void markSpoolerProcess(bool holdsLock);

} // namespace winsim
