#include "threadpriority.h"

#include "win32.h"

#include <QDebug>

bool raiseWindowThreadPriority()
{
    if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL))
        return true;
    qWarning().noquote() << "the window's thread stays at normal priority, error"
                         << static_cast<unsigned long>(GetLastError());
    return false;
}
