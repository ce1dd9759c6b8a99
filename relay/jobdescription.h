#ifndef JOBDESCRIPTION_H
#define JOBDESCRIPTION_H

#include <QString>

// The description of the job that the spooler is printing on the named printer: its document name,
// ";" and its submission time as hh:mm:ss (the spooler's UTC hour plus 8, the service's time zone).
// Empty when the printer cannot be opened or nothing on it is printing. `jobBytes`, when given,
// receives the spooler's size of that job in bytes, or 0 when there is none; a hint for the
// receiver's buffers, not a promise of what the connection brings.
QString currentJobDescription(const QString &printerName, qint64 *jobBytes = nullptr);

#endif // JOBDESCRIPTION_H
