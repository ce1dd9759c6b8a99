#ifndef JOBDESCRIPTION_H
#define JOBDESCRIPTION_H

#include <QString>

// The description of the job that the spooler is printing on the named printer: its document name,
// ";" and its submission time as hh:mm:ss (the spooler's UTC hour plus 8, the service's time zone).
// Empty when the printer cannot be opened or nothing on it is printing.
QString currentJobDescription(const QString &printerName);

#endif // JOBDESCRIPTION_H
