#ifndef THREADPRIORITY_H
#define THREADPRIORITY_H

// Runs the calling thread, the window's, above the relay's threads, so that it answers the user at
// once while jobs stream through. A tray program's window is seldom in the foreground, so the
// system's own boost for the foreground window does not help it. The window's thread only ever works
// in short turns, so it cannot starve the relay. Threads started afterwards, from it too, run at
// normal priority. Logs and returns false where the system refuses.
bool raiseWindowThreadPriority();

#endif // THREADPRIORITY_H
