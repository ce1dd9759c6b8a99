#ifndef THREADLIFETIME_H
#define THREADLIFETIME_H

class QThread;

// Deletes the thread object once its thread has wholly ended. Deleting it as soon as it says
// `finished`, as a plain deleteLater does, makes the deleting thread wait while the ending one still
// tidies up (its own pending deletions, its event loop), and on a loaded machine that waits for the
// ending thread to get a core again: the window's thread, which owns these objects, must not wait so.
void deleteWhenEnded(QThread *thread);

#endif // THREADLIFETIME_H
