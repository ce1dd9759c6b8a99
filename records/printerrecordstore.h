#ifndef PRINTERRECORDSTORE_H
#define PRINTERRECORDSTORE_H

#include <QString>

#include "driverinfo.h"

// The program's own list of the printers it provisioned, one row per printer in table driver of
// task.db in the current folder. Each call opens the database, does its work and closes it again;
// failures are logged and answered with false. GUI thread only: all calls share the default
// connection.

// Creates table driver when it is missing, then inserts the record. A printer name that is already
// stored is refused.
bool insertPrinterRecord(const DriverInfo &info);

// Deletes the row of that printer. An unknown name is a success that changes nothing.
bool deletePrinterRecord(const QString &printerName);

// Sets one column of the row of that printer. column is one of the table's fixed column names and
// value an SQL literal that goes into the statement as given (see sqlTextLiteral). An unknown name is
// a success that changes nothing; renaming is an update of printer_name keyed by the old name.
bool updatePrinterRecord(const QString &printerName, const QString &column, const QString &value);

// The SQL literal of a text for updatePrinterRecord: enclosed in single quotes, each single quote
// inside doubled.
QString sqlTextLiteral(const QString &text);

#endif // PRINTERRECORDSTORE_H
