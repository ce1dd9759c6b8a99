#ifndef PROCESSINFO_H
#define PROCESSINFO_H

#include <QString>
#include <QtGlobal>

// The print spooler service's process; 0 when it does not run or cannot be asked.
quint32 spoolerProcessId();

// The executable a process runs, for the log; empty when it cannot be read.
QString processImageName(quint32 processId);

#endif // PROCESSINFO_H
