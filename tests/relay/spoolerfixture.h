#ifndef SPOOLERFIXTURE_H
#define SPOOLERFIXTURE_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A freshly installed winsim machine with one cloud printer whose Standard TCP/IP port points at
// 127.0.0.1 and the given port number, as the add-printer worker sets it up.
bool setUpCloudPrinter(const QString &printerName, quint16 port, QString *error);

// Prints a job as an application would: queued with the document name (none when null) and the
// submission time, then sent by the spooler to the printer's port. Returns the job id, 0 on failure.
quint32 printJob(const QString &printerName, const QString &document, const QByteArray &data,
    const QDateTime &submittedUtc);

#endif // SPOOLERFIXTURE_H
