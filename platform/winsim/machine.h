// What a freshly installed machine has: the "Local Port" monitor's ports, the registry keys of its
// print environments and the running "Spooler" service.
#pragma once

struct sqlite3;

namespace winsim {

// Fills an empty state once; the caller has a write transaction open.
void seedMachine(sqlite3 *db);
// Back to a fresh machine. Row ids keep counting, so nothing from before can be mistaken for new.
void clearMachine(sqlite3 *db);

} // namespace winsim
